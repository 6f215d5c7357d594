// Native types of the POSIX back-end: objects are file descriptors, threads
// are pthreads.
#pragma once

#include <pthread.h>

namespace Drux {

using NativeHandle = int;
constexpr NativeHandle kInvalidNativeHandle = -1;

using NativeThread = pthread_t;

// The separator that joinPath puts between a directory and a name.
constexpr char kNativePathSeparator = '/';

}  // namespace Drux
