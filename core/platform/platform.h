// The platform seam. These are what a back-end (one folder: posix/, win32/)
// must implement; everything else in core/platform/ is shared and compiled on
// every system, so the two systems cannot drift in their rules for paths,
// command lines, bounded strings, locks, waits and the test clock.
//
// A back-end holds system calls only. It provides:
//   native.h        NativeHandle (and kInvalidNativeHandle), NativeThread and
//                   kNativePathSeparator: the types the shared headers hold.
//   clock.cpp       monotonicMilliseconds() below.
//   file_append.cpp appendToFile of file_append.h.
//   thread.cpp      the thread functions below, currentThreadId() and
//                   sleepMilliseconds() of thread.h.
//   interrupter.cpp the Interrupter of interrupter.h: signal() makes it ready
//                   until reset(); waitSocket and the process waits return
//                   Interrupted when it is ready.
//   shared_mutex.cpp the SharedMutex of shared_mutex.h: a machine-wide named
//                   object that the system removes when its owner dies.
//   socket.cpp      every function of socket.h but socketSendSome, which is
//                   shared, and sendPieces below (IPv4 TCP on 127.0.0.1).
//   peer_owner.cpp  peerOwner() of peer_owner.h: who owns an accepted
//                   connection's peer, compared with this process's user.
//   process.cpp     every function of process.h.
//   paths.cpp       fullPath (the system's own resolution: on Windows UNC,
//                   drive-relative and \\?\ paths), currentDirectory,
//                   hostExecutablePath, fileAttributes and deleteFile of
//                   paths.h.
//   library.cpp     every function of library.h.
//   system_error.cpp every function of system_error.h: the calling thread's
//                   last error, its text (ending in a line end), and saving,
//                   restoring and setting it.
//
// Rules for every back-end function: no exception leaves it; a failure is a
// result plus the thread's last error (system_error.h), never a log line (the
// layers above own their lines); it retries interrupted system calls itself;
// it keeps no handle of the caller's beyond the call unless its header says so.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/platform/native.h"
#include "core/platform/socket.h"

namespace Drux {

// Milliseconds from a fixed point, never going back, not moved by tests. Its
// low 32 bits are the system's millisecond tick (clock.h's tickMilliseconds
// adds the test offset to it).
int64_t monotonicMilliseconds();

// Starts a system thread that calls runThreadRecord(record) and ends when it
// returns. False when the system refused (the last error says why).
bool startSystemThread(void* record, NativeThread* thread);
// Shared: the body of every thread that startSystemThread started.
void runThreadRecord(void* record);
// Waits, once per thread, for a thread whose record has run to leave the
// system: afterwards none of its instructions remain in the library, which a
// host may then unload or leave by exiting. Bounded on Windows, where a
// thread's exit needs the loader lock that a waiter inside DllMain would hold.
void awaitSystemThreadExit(NativeThread thread);
// Ends a thread forcibly; false where the system offers no such thing.
bool terminateSystemThread(NativeThread thread);
// Gives back what startSystemThread kept for the thread: its handle on
// Windows; on POSIX a thread whose exit was not awaited is detached.
void releaseSystemThread(NativeThread thread, bool exitAwaited);

// At most this many pieces go into one send (well under IOV_MAX).
constexpr size_t kMaxSendPieces = 64;
// The back-end's half of socketSendSome: one gather send of pieces[0..count)
// as socket.h describes it. The pieces are non-empty, at most kMaxSendPieces
// and already cut by any fault a test armed; the back-end may shorten them.
IoResult sendPieces(SocketHandle socket, ByteSpan* pieces, size_t count, size_t* sent);
// Shared: cuts pieces[0..count) to their first `limit` bytes in all and
// returns how many pieces are left.
size_t keepFirstBytes(ByteSpan* pieces, size_t count, size_t limit);

// Shared: an absolute form of path against the current directory with "." and
// ".." folded and no links resolved, by the splitting rules of paths.h (a
// leading separator is the root "/"). The POSIX back-end's fullPath.
bool foldedFullPath(char* output, size_t outputSize, const char* path);

}  // namespace Drux
