// The back-end's native types, for the few shared headers that must hold a
// system object by value (the interrupter, the launcher marker). The one place
// above the back-end folders that tells the two systems apart.
#pragma once

#ifdef _WIN32
#  include "core/platform/win32/native.h"
#else
#  include "core/platform/posix/native.h"
#endif
