// What the library's tests need of the system beyond the platform layer, one
// implementation per system (test_system_posix.cpp, test_system_win32.cpp).
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "core/platform/socket.h"

namespace DruxTest {

// True when the tests run under Wine, where a few cases behave differently
// from Windows; such cases skip with the reason printed.
bool runningUnderWine();

// Whether this process has a child process (on POSIX a zombie included: the
// library must reap what it started; on Windows a running one).
bool hasChildProcesses();

// The processor time (user and system, in milliseconds) that each thread of
// this process has used so far, by the system's thread identifier.
std::map<unsigned long, double> threadCpuMilliseconds();

// Whether the thread (Drux::currentThreadId() of it) is blocked in a socket
// receive now. Read from /proc on Linux; Windows shows no such thing to a
// process, so there it answers true and a test cannot prove the order.
bool threadBlockedInReceive(long threadId);

// Puts the bytes on the wire with one plain send, bypassing the library.
bool sendPlain(Drux::SocketHandle socket, const std::string& bytes);
// One plain (blocking) send or receive, bypassing the library: *sent and
// *received say how much the system took or gave (0 after the peer's close).
// Sends never raise SIGPIPE; lastSocketError() tells why one failed.
bool sendSome(Drux::SocketHandle socket, const void* data, size_t length, size_t* sent);
bool receiveSome(Drux::SocketHandle socket, void* buffer, size_t length, size_t* received);

// How many received bytes wait to be read on the socket now (0 on failure).
size_t bytesWaiting(Drux::SocketHandle socket);

// The error code with which a thread that the system will not start fails
// (EAGAIN on POSIX, ERROR_NOT_ENOUGH_MEMORY on Windows).
int threadStartFailureCode();

// Gives the connection `from` the handle value `number` (dup2), as a new
// connection may take the number of a closed one. False where the system
// cannot hand out a chosen value (Windows).
bool takeHandleNumber(Drux::SocketHandle from, Drux::SocketHandle number);

// Closes a connection with a reset instead of an orderly close (SO_LINGER
// with a zero time-out). True when the option could be set.
bool closeWithReset(Drux::SocketHandle socket);

// The socket error of a send on a connection that was shut down here
// (EPIPE on POSIX, WSAESHUTDOWN on Windows).
int sendAfterShutdownError();

// Binds a fresh socket to 127.0.0.1:port with no address option at all: the
// system's own rule for a port that a closed connection still holds.
bool plainBindSucceeds(uint16_t port);
// Whether that rule keeps such a port (POSIX does; Windows lets it be bound).
bool closingWaitHoldsPort();

}  // namespace DruxTest
