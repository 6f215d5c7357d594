// IPv4 TCP sockets on 127.0.0.1 only. Every connection gets TCP_NODELAY; sends
// never raise SIGPIPE.
#pragma once

#include <cstddef>
#include <cstdint>

#include "VantrelTypes.h"
#include "core/platform/interrupter.h"

namespace Drux {

using SocketHandle = VantrelSocket;
constexpr SocketHandle kInvalidSocket = -1;

// Error code of a connection reset by the peer (WSAECONNRESET on Windows).
int connectionResetErrorCode();
// The calling thread's last socket error code.
int lastSocketError();

int socketStartup();   // counted no-op on POSIX; 0 on success
bool socketCleanup();  // counted no-op on POSIX

SocketHandle socketCreate();  // kInvalidSocket on failure
// Sets SO_REUSEADDR to 1 (result ignored), then binds to 127.0.0.1:port.
bool socketBind(SocketHandle socket, uint16_t port);
bool socketListen(SocketHandle socket);
bool socketAccept(SocketHandle listening, SocketHandle* accepted);
bool socketConnect(SocketHandle socket, uint16_t port);
// One send of the whole buffer; *sent receives what the system accepted.
bool socketSend(SocketHandle socket, const void* data, size_t length, size_t* sent);
// One receive; *received is set to 0 first and is 0 when the peer has closed.
bool socketReceive(SocketHandle socket, void* buffer, size_t length, size_t* received);
// Ends both directions so that a thread blocked in a receive wakes at once.
// The descriptor stays allocated until socketClose.
bool socketShutdown(SocketHandle socket);
bool socketClose(SocketHandle socket);
// The port a bound socket listens on (for tests that bind port 0).
uint16_t socketLocalPort(SocketHandle socket);

enum class WaitResult { Readable, Interrupted, TimedOut, Failed };
// Waits until the socket is readable or the interrupter is signalled;
// timeoutMs < 0 waits without limit.
WaitResult waitReadable(SocketHandle socket, const Interrupter& interrupter, int timeoutMs);

}  // namespace Drux
