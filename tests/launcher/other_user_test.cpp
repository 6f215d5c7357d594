// A program of another user on the AIR port during a preload (Linux; needs
// root to run that program as uid 65534, as CI has): it is refused before
// anything reaches it, while the launcher's own programs are served as ever.
#include "launcher_test_support.h"
#include "messaging/messaging_test_support.h"
#include "support/peer_process.h"

namespace LauncherTest {
namespace {

using MessagingTest::messageBytes;

TEST_F(ControllerTest, AnotherUsersPeerOnTheAirPortGetsNoCredentialsAndCannotKillThePreloadedGame) {
    const std::string unavailable = DruxTest::otherUserUnavailable();
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    initAndStart();
    Peer air(airPort_);
    air.link();
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD, "abc");
    const Record preloaded = runsOf(gamePath_).at(0);

    // Had it been admitted, its order would have been answered with a reply.
    DruxTest::PeerProcess nobody(airPort_, DruxTest::kNobody, messageBytes(VANTRELMESSAGETYPE_KILL_GAMECLIENT_PROCESS));
    ASSERT_TRUE(nobody.connected());
    const std::string refused = "WARNING: Refused a connection on port " + std::to_string(airPort_) +
                                " from user 65534: not this process's user.\n";
    ASSERT_TRUE(DruxTest::waitUntil([&] { return logContains(refused); }));

    // A separate program of our own user is served: its heartbeat is answered.
    DruxTest::PeerProcess ours(airPort_, std::nullopt, messageBytes(VANTRELMESSAGETYPE_HEARTBEAT), 16);
    ASSERT_TRUE(ours.connected());
    const auto served = ours.finish();
    ASSERT_TRUE(served);
    EXPECT_EQ(MessagingTest::headerBytes(16, 1, VANTRELMESSAGETYPE_REPLY, 0), served->received);

    air.send(VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS, "secret");
    const auto credentials = air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS);
    ASSERT_TRUE(credentials);
    EXPECT_NE(std::string::npos, credentials->payload.value_or("").find("|secret|"));

    const auto report = nobody.finish();
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->closedByOtherEnd);
    EXPECT_EQ("", report->received);
    EXPECT_TRUE(alive(preloaded.pid()));
    const std::string log = logText();
    EXPECT_EQ(log.find("WARNING: Refused"), log.rfind("WARNING: Refused"));
    EXPECT_EQ(std::string::npos, log.find("Could not check the user"));
}

}  // namespace
}  // namespace LauncherTest
