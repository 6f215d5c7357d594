// The admission rule at accept: compare, log, and close what is refused.
#include "messaging/peer_admission.h"

#include "core/log.h"
#include "core/platform/peer_owner.h"

namespace Drux {

bool admitConnection(SocketHandle accepted, int32_t port) {
    const PeerOwnerResult peer = peerOwner(accepted);
    switch (peer.owner) {
    case PeerOwner::SameUser:
        return true;
    case PeerOwner::Unknown:
        LogWarningF(512, "Could not check the user of a connection on port %d (%s); admitting it.\n", port,
                    peer.detail);
        return true;
    case PeerOwner::OtherUser:
        LogWarningF(512, "Refused a connection on port %d from user %s: not this process's user.\n", port,
                    peer.detail);
        break;
    case PeerOwner::Closed:
        // Whatever such a peer left behind was sent by someone we cannot name.
        LogWarningF(512, "Refused a connection on port %d whose user cannot be told: %s.\n", port, peer.detail);
        break;
    }
    socketClose(accepted);
    return false;
}

}  // namespace Drux
