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
// Ends both directions so that a thread blocked in a receive wakes at once.
// The descriptor stays allocated until socketClose.
bool socketShutdown(SocketHandle socket);
// Ends our sending side only (the peer reads to the end of what was sent,
// then sees the end); receiving goes on until the close.
bool socketShutdownSending(SocketHandle socket);
bool socketClose(SocketHandle socket);
// Closes a connection that a listening socket accepted so that nothing of it
// stays active to keep the listening port from being bound again. Windows
// binds the ports for exclusive use, and such a port cannot be bound while a
// connection accepted on it is still active (its last bytes or its end not
// yet acknowledged, or waiting for the peer's end). There the graceful close
// comes first: the sending side is shut down (our last bytes, then the end of
// the stream) and the close waits up to waitMs for the peer to end its side;
// only a connection whose peer has not ended it by then is closed abortively.
// POSIX binds past connections that are still closing (SO_REUSEADDR) and
// closes at once.
bool socketCloseAccepted(SocketHandle socket, uint32_t waitMs);
// The port a bound socket listens on (for tests that bind port 0).
uint16_t socketLocalPort(SocketHandle socket);

// A piece of an outgoing message; a send gathers several (sendmsg / WSASend).
struct ByteSpan {
    const void* data;
    size_t length;
};
// Reset: the peer reset the connection (ECONNRESET, WSAECONNRESET).
enum class IoResult { Done, WouldBlock, Closed, Reset, Failed };
// Makes sends and socketReceiveSome on an agent's handle never block a thread
// of ours. Windows puts the socket in non-blocking mode; POSIX passes
// MSG_DONTWAIT on every such call instead and leaves the descriptor, whose
// mode is shared with the host's handle, as it is.
bool socketSetNonBlocking(SocketHandle socket);
// Lets socketReceiveWaiting wait up to `milliseconds` for bytes (the handle's
// receive time-out). False where a receive on the handle cannot wait: a
// descriptor the host made non-blocking, and every agent handle on Windows.
bool socketSetReceiveWait(SocketHandle socket, uint32_t milliseconds);
// Sets TCP_NODELAY (the agent sets it on every socket it is given).
bool socketSetNoDelay(SocketHandle socket);
// One gather send of as much of parts[0..count) as the socket takes now, in
// order, without blocking. Done with *sent > 0; WouldBlock with *sent == 0
// when the send buffer is full; Failed otherwise (lastSocketError() tells).
// Retries EINTR itself. Never raises SIGPIPE.
IoResult socketSendSome(SocketHandle socket, const ByteSpan* parts, size_t count, size_t* sent);
// One receive of at most `length` bytes that are there now, without blocking.
// Done with *received > 0; WouldBlock; Closed after the peer's orderly close;
// Reset; Failed (any other error; lastSocketError() tells). Retries EINTR.
IoResult socketReceiveSome(SocketHandle socket, void* buffer, size_t length, size_t* received);
// One receive that itself waits for bytes, up to the time socketSetReceiveWait
// set: results as socketReceiveSome, WouldBlock when that time passed. One
// system call where a wait and a receive would take two; nothing but bytes,
// the peer or that time ends it, so it is only for short waits.
IoResult socketReceiveWaiting(SocketHandle socket, void* buffer, size_t length, size_t* received);
// Interest and readiness bits for waitSocket.
constexpr unsigned kSocketReadable = 1, kSocketWritable = 2;
// Waits until the socket is ready for any of `interest`, the interrupter is
// signalled, or timeoutMs passes (< 0: no limit). On Ready, *ready holds the
// bits that are ready (a closed or failed connection counts as readable).
enum class SocketWait { Ready, Interrupted, TimedOut, Failed };
SocketWait waitSocket(SocketHandle socket, unsigned interest, const Interrupter& interrupter, int timeoutMs,
                      unsigned* ready);
// A second handle to the same connection, owned by the caller (an agent works
// on its own duplicate, so a host that closes the handle it passed in can never
// make the agent read a reused descriptor number). kInvalidSocket on failure.
SocketHandle socketDuplicate(SocketHandle socket);

}  // namespace Drux
