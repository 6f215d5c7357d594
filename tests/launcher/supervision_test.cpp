// The host's poll: the AIR client's presence and silence, the game's silence,
// and a game that ends without saying so.
#include "controller_fixture.h"
#include "core/platform/clock.h"
#include "launcher/server_controller.h"

namespace LauncherTest {
namespace {

// Moves the clock until the seconds clock reads `stamp + seconds`, half a
// second into that second.
void advanceToSecondsAfter(uint32_t stamp, uint32_t seconds) {
    const uint64_t target = (static_cast<uint64_t>(stamp) + seconds) * 1000 + 500;
    const uint32_t now = Drux::tickMilliseconds();
    ASSERT_GT(target, now);
    Drux::testing::advanceClock(static_cast<uint32_t>(target - now));
    ASSERT_EQ(stamp + seconds, Drux::tickSeconds());
}

// The AIR connection's messages are handled in order: once the answer to a
// later request is back (the connection is linked), an earlier HEARTBEAT has
// been stamped and earlier relays to it have arrived.
void sendHeartbeatAndSettle(FakePeer& air) {
    const size_t answered = air.count(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME);
    air.send(VANTRELMESSAGETYPE_HEARTBEAT);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME);
    ASSERT_TRUE(air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME, answered + 1));
}

TEST_F(ControllerTest, TheAirClientIsLostAt150SilentSecondsNotAt149) {
    initAndStart();
    const ProgramRun airRun = runsOf(airPath_).at(0);
    const uint32_t stamp = CurrentController()->airHeartbeatTime;

    advanceToSecondsAfter(stamp, 149);
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(0, exitCalls());
    EXPECT_TRUE(alive(airRun.pid));

    advanceToSecondsAfter(stamp, 150);
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    const std::vector<ReportedError> reported = errors();
    ASSERT_EQ(1u, reported.size());
    EXPECT_EQ(this, reported[0].context);
    EXPECT_EQ(VANTRELERRORTYPE_AIRHEARTBEAT, reported[0].type);
    EXPECT_EQ("Contact with Air lost  version 1.\n", reported[0].text);
    EXPECT_EQ(1, exitCalls());
    EXPECT_TRUE(waitGone(airRun.pid));
}

TEST_F(ControllerTest, AnAirClientThatIsGoneEndsTheRunAtEveryPollAndIsReportedOnlyWithoutAGame) {
    initAndStart();
    const ProgramRun airRun = runsOf(airPath_).at(0);
    FakePeer air(airPort_);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE);
    const ProgramRun game = runsOf(gamePath_).at(0);

    Drux::terminateProcess(airRun.pid);
    ASSERT_TRUE(waitGone(airRun.pid));
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_EQ(1, exitCalls());
    EXPECT_TRUE(errors().empty());
    EXPECT_TRUE(alive(game.pid));

    Drux::terminateProcess(game.pid);
    ASSERT_TRUE(waitGone(game.pid));
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_EQ(3, exitCalls());
    const std::vector<ReportedError> reported = errors();
    ASSERT_EQ(2u, reported.size());
    for (const ReportedError& error : reported) {
        EXPECT_EQ(VANTRELERRORTYPE_AIRHEARTBEAT, error.type);
        EXPECT_EQ("Contact with Air lost version 2.\n", error.text);
    }
    // Stop ends the polling's work.
    VantrelServerController_Stop();
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_EQ(3, exitCalls());
}

TEST_F(ControllerTest, AGameThatEndsUnannouncedIsReportedAsCrashedOnce) {
    initAndStart();
    FakePeer air(airPort_);
    linkAirClient(air);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE);
    const ProgramRun game = runsOf(gamePath_).at(0);
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());

    Drux::terminateProcess(game.pid);
    ASSERT_TRUE(waitGone(game.pid));
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    sendHeartbeatAndSettle(air);
    ASSERT_EQ(1u, air.count(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED));
    EXPECT_FALSE(air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED).value().payload);

    // A game killed at the AIR client's request has not announced its end either.
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE);
    const ProgramRun second = runsOf(gamePath_, 2).at(1);
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    air.send(VANTRELMESSAGETYPE_KILL_GAMECLIENT_PROCESS);
    ASSERT_TRUE(waitGone(second.pid));
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_TRUE(air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED, 2));
    EXPECT_EQ(0, exitCalls());
}

TEST_F(ControllerTest, ASilentGameIsStoppedAndThenReportedAsCrashed) {
    initAndStart();
    FakePeer air(airPort_, false);
    linkAirClient(air);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE);
    const ProgramRun game = runsOf(gamePath_).at(0);
    const uint32_t stamp = CurrentController()->gameHeartbeatTime;

    advanceToSecondsAfter(stamp, 150);
    sendHeartbeatAndSettle(air);  // the AIR client itself is not silent
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_TRUE(waitGone(game.pid));
    EXPECT_EQ(0u, air.count(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED));
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    const auto crashed = air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED);
    ASSERT_TRUE(crashed);
    EXPECT_FALSE(crashed->payload);
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(0, exitCalls());
}

TEST_F(ControllerTest, TheTerminationCheckNamesTheGamesDirectoryUnlessTheGameAnnouncedItsEnd) {
    initAndStart();
    FakePeer air(airPort_);
    linkAirClient(air);
    VantrelServerController_CheckGameTerminationState();
    const auto crashed = air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED);
    ASSERT_TRUE(crashed);
    EXPECT_EQ(directory()->path() + "/", crashed->payload.value_or("(none)"));
    // A broadcast without a server goes to the controller's AIR server.
    EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(nullptr, VANTRELMESSAGETYPE_PLAY_REPLAY, "to air"));
    const auto relayed = air.waitFor(VANTRELMESSAGETYPE_PLAY_REPLAY);
    ASSERT_TRUE(relayed);
    EXPECT_EQ("to air", relayed->payload.value_or("(none)"));

    FakePeer game(gamePort_);
    game.send(VANTRELMESSAGETYPE_GAMECLIENT_ABANDONED);
    ASSERT_TRUE(air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_ABANDONED));
    VantrelServerController_CheckGameTerminationState();
    sendHeartbeatAndSettle(air);
    EXPECT_EQ(1u, air.count(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED));
}

}  // namespace
}  // namespace LauncherTest
