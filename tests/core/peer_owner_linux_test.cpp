// The owner look-up on Linux, through the kernel's socket diagnostics and
// through /proc/net/tcp: our own peer, a peer whose socket is closed, and a
// peer of another user (needs root, as CI has).
#include <string>

#include "core/platform/peer_owner.h"
#include "support/peer_process.h"
#include "support/test_support.h"

namespace {

using Drux::PeerOwner;

class PeerOwnerLinux : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        Drux::testing::peerOwnerUsesProcNetTcpOnly(GetParam());
        ASSERT_TRUE(Drux::socketBind(listener, 0) && Drux::socketListen(listener));
        port = Drux::socketLocalPort(listener);
    }
    void TearDown() override {
        Drux::testing::peerOwnerUsesProcNetTcpOnly(false);
        Drux::socketClose(listener);
    }
    // Accepts the next connection and looks its peer up.
    Drux::PeerOwnerResult acceptAndLookUp() {
        Drux::SocketHandle accepted = Drux::kInvalidSocket;
        EXPECT_TRUE(Drux::socketAccept(listener, &accepted));
        const Drux::PeerOwnerResult peer = Drux::peerOwner(accepted);
        Drux::socketClose(accepted);
        return peer;
    }

    Drux::SocketHandle listener = Drux::socketCreate();
    uint16_t port = 0;
};

TEST_P(PeerOwnerLinux, OurPeerIsOursAndAPeerThatClosedItsSocketIsClosed) {
    const Drux::SocketHandle ours = Drux::socketCreate();
    ASSERT_TRUE(Drux::socketConnect(ours, port));
    EXPECT_EQ(PeerOwner::SameUser, acceptAndLookUp().owner);

    // Closed before the accept: only the kernel holds the peer's socket.
    const Drux::SocketHandle gone = Drux::socketCreate();
    ASSERT_TRUE(Drux::socketConnect(gone, port));
    Drux::socketClose(gone);
    const Drux::PeerOwnerResult closed = acceptAndLookUp();
    EXPECT_EQ(PeerOwner::Closed, closed.owner);
    EXPECT_STREQ("no process holds the peer's socket", closed.detail);
    Drux::socketClose(ours);
}

TEST_P(PeerOwnerLinux, APeerOfAnotherUserIsNamedByItsUid) {
    const std::string unavailable = DruxTest::otherUserUnavailable();
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    DruxTest::PeerProcess nobody(port, DruxTest::kNobody);
    ASSERT_TRUE(nobody.connected());
    const Drux::PeerOwnerResult peer = acceptAndLookUp();
    EXPECT_EQ(PeerOwner::OtherUser, peer.owner);
    EXPECT_STREQ("65534", peer.detail);
}

INSTANTIATE_TEST_SUITE_P(BothSources, PeerOwnerLinux, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ProcNetTcp" : "SocketDiagnostics"; });

}  // namespace
