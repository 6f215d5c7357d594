// Native types of the win32 back-end: objects are kernel handles, threads are
// the handles _beginthreadex returns. Plain pointers here, so that the shared
// headers never pull in <windows.h>.
#pragma once

namespace Drux {

using NativeHandle = void*;  // HANDLE
constexpr NativeHandle kInvalidNativeHandle = nullptr;

using NativeThread = void*;  // HANDLE of the thread

// The separator that joinPath puts between a directory and a name.
constexpr char kNativePathSeparator = '\\';

}  // namespace Drux
