// The admission rule at accept: compare, log, and close what is refused.
#include "messaging/peer_admission.h"

#include <cstdio>

#include "core/platform/peer_owner.h"

namespace Drux {

bool admitConnection(SocketHandle accepted, int32_t port, LogLimiter& warnings) {
    const PeerOwnerResult peer = peerOwner(accepted);
    char line[512];
    bool admitted = false;
    switch (peer.owner) {
        case PeerOwner::SameUser:
            return true;
        case PeerOwner::Unknown:
            std::snprintf(line, sizeof line,
                          "Could not check the user of a connection on port %d (%s); admitting it.\n", port,
                          peer.detail);
            admitted = true;
            break;
        case PeerOwner::OtherUser:
            std::snprintf(line, sizeof line, "Refused a connection on port %d from user %s: not this process's user.\n",
                          port, peer.detail);
            break;
        case PeerOwner::Closed:
            // Whatever such a peer left behind was sent by someone we cannot name.
            std::snprintf(line, sizeof line, "Refused a connection on port %d whose user cannot be told: %s.\n", port,
                          peer.detail);
            break;
    }
    warnings.warning(line);
    if (!admitted) socketClose(accepted);
    return admitted;
}

}  // namespace Drux
