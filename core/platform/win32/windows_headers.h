// The Windows headers as every file of this back-end includes them: Winsock 2
// before <windows.h> (which would otherwise bring the old Winsock 1 header),
// and without the rarely used parts and the min/max macros.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#  define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#  define NOMINMAX
#endif

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
