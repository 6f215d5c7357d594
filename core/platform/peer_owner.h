// Who is on the other end of an accepted loopback connection. Loopback TCP
// carries no identity, so the answer comes from the system's own record of the
// peer's socket: its owning user (POSIX) or its owning process's user (Windows).
#pragma once

#include "core/platform/socket.h"

namespace Drux {

enum class PeerOwner {
    SameUser,   // the peer's socket belongs to the user this process runs as
    OtherUser,  // it belongs to someone else; detail: the peer's user id as text
    Closed,     // no process holds the peer's socket any more; detail: how that shows
    Unknown,    // the system could not tell; detail: why
};

struct PeerOwnerResult {
    PeerOwner owner = PeerOwner::Unknown;
    char detail[200] = {};
};

// Looks the owner of the accepted socket's peer up. Never blocks on the peer,
// reads nothing from the connection and sends nothing on it.
PeerOwnerResult peerOwner(SocketHandle accepted);

namespace testing {
// POSIX back-end only: skips the kernel's socket diagnostics so that the
// /proc/net/tcp fallback answers.
void peerOwnerUsesProcNetTcpOnly(bool only);
}  // namespace testing

}  // namespace Drux
