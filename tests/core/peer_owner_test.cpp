// The owner look-up of a loopback peer on a connection of our own, from both ends.
#include <cstring>

#include "core/platform/peer_owner.h"
#include "support/test_support.h"

namespace {

TEST(PeerOwner, OurOwnConnectionIsFoundAsOursFromEitherEnd) {
    const Drux::SocketHandle listener = Drux::socketCreate(), client = Drux::socketCreate();
    Drux::SocketHandle server = Drux::kInvalidSocket;
    ASSERT_TRUE(Drux::socketBind(listener, 0) && Drux::socketListen(listener));
    ASSERT_TRUE(Drux::socketConnect(client, Drux::socketLocalPort(listener)) && Drux::socketAccept(listener, &server));
    for (const Drux::SocketHandle end : {server, client}) {
        const Drux::PeerOwnerResult peer = Drux::peerOwner(end);
        // Some systems (Wine) name no process for any connection: the
        // admission then logs and admits, which the server tests cover.
        if (peer.owner == Drux::PeerOwner::Unknown && std::strstr(peer.detail, "names no process") != nullptr)
            GTEST_SKIP() << peer.detail;
        EXPECT_EQ(Drux::PeerOwner::SameUser, peer.owner) << peer.detail;
        EXPECT_STREQ("", peer.detail);
    }
    for (const Drux::SocketHandle s : {listener, client, server}) Drux::socketClose(s);
}

}  // namespace
