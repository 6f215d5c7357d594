// Who may talk to the launcher: only programs of the user it runs as. Loopback
// TCP lets every local user connect, and a connection of the AIR port receives
// everything broadcast there, the credentials text included.
#pragma once

#include <cstdint>

#include "core/log_limiter.h"
#include "core/platform/socket.h"

namespace Drux {

// Decides, at accept, whether the connection may be served. A peer of another
// user, or one whose socket no process holds any more, is refused: its socket
// is closed here, before anything is read from it or sent to it, and a WARNING
// names the port. A peer whose owner the system cannot tell is admitted with a
// WARNING that says why; our own user's peers are admitted without a line.
// The warnings go through the server's limiter, so that a flood of refused
// connections cannot fill the disk.
bool admitConnection(SocketHandle accepted, int32_t port, LogLimiter& warnings);

}  // namespace Drux
