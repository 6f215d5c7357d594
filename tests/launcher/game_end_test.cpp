// How a game's end reaches the AIR client, also when no poll saw the game
// running, and a Stop from another thread while a start blocks the host.
#include <thread>

#include "launcher_test_support.h"
#include "process/process_waits.h"

namespace LauncherTest {
namespace {

using DruxTest::waitUntil;

enum class End { Crash, CrashAfterAPoll, Stopped, Abandoned, KillAsked };

struct GameEnd {
    const char* name;
    int32_t request;  // what the AIR client asks for: an ordinary or a preloaded game
    End end;
    size_t crashReports;
};

void PrintTo(const GameEnd& c, std::ostream* out) { *out << c.name; }

class GameEndTest : public ControllerTest, public ::testing::WithParamInterface<GameEnd> {
protected:
    // Asks for a game and returns its run, which has not been polled.
    Record startGame(Peer& air, int32_t request, size_t nth) {
        air.send(request);
        return runsOf(gamePath_, nth).at(nth - 1);
    }
    // Two polls after the game is gone and the launcher has its process (a
    // game can record its run before its starter has its identifier); then
    // what the polls relayed has arrived.
    size_t crashReportsAfterPolls(Peer& air, const Record& game) {
        EXPECT_TRUE(waitGone(game.pid()));
        EXPECT_TRUE(waitUntil([&] { return Drux::processHelperState()->gameProcessId == game.pid(); }));
        EXPECT_EQ(1, VantrelServerController_ProcessEvents());
        EXPECT_EQ(1, VantrelServerController_ProcessEvents());
        air.link();
        return air.count(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED);
    }
};

TEST_P(GameEndTest, AGameThatEndsIsReportedAsCrashedOnceUnlessItAnnouncedItsEnd) {
    initAndStart();
    Peer air(airPort_, false);
    air.link();
    const Record first = startGame(air, GetParam().request, 1);
    switch (GetParam().end) {
        case End::CrashAfterAPoll:
            ASSERT_TRUE(waitUntil([&] { return Drux::processHelperState()->gameProcessId == first.pid(); }));
            EXPECT_EQ(1, VantrelServerController_ProcessEvents());
            [[fallthrough]];
        case End::Crash:
            Drux::terminateProcess(first.pid());
            break;
        case End::Stopped:
        case End::Abandoned: {
            const int32_t type = GetParam().end == End::Stopped ? VANTRELMESSAGETYPE_GAMECLIENT_STOPPED
                                                                : VANTRELMESSAGETYPE_GAMECLIENT_ABANDONED;
            Peer game(gamePort_);
            game.send(type);
            ASSERT_TRUE(waitUntil([&] { return Drux::currentController()->gameEndReported == 1; }));
            Drux::terminateProcess(first.pid());
            EXPECT_TRUE(air.waitFor(type));
            break;
        }
        case End::KillAsked:
            air.send(VANTRELMESSAGETYPE_KILL_GAMECLIENT_PROCESS);
            break;
    }
    EXPECT_EQ(GetParam().crashReports, crashReportsAfterPolls(air, first));

    // The next game is a new one: what the first announced does not cover it, and its crash before any poll is reported once.
    const Record second = startGame(air, VANTRELMESSAGETYPE_GAMECLIENT_CREATE, 2);
    Drux::terminateProcess(second.pid());
    EXPECT_EQ(GetParam().crashReports + 1, crashReportsAfterPolls(air, second));
    for (const Message& crash : air.of(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED)) EXPECT_FALSE(crash.payload);
    EXPECT_EQ(0, exitCalls_.load());
}

INSTANTIATE_TEST_SUITE_P(
    Ends, GameEndTest,
    ::testing::Values(GameEnd{"Crash", VANTRELMESSAGETYPE_GAMECLIENT_CREATE, End::Crash, 1},
                      GameEnd{"CrashAfterAPoll", VANTRELMESSAGETYPE_GAMECLIENT_CREATE, End::CrashAfterAPoll, 1},
                      GameEnd{"PreloadedCrash", VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD, End::Crash, 1},
                      GameEnd{"Stopped", VANTRELMESSAGETYPE_GAMECLIENT_CREATE, End::Stopped, 0},
                      GameEnd{"PreloadedAbandoned", VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD,
                              End::Abandoned, 0},
                      GameEnd{"KillAsked", VANTRELMESSAGETYPE_GAMECLIENT_CREATE, End::KillAsked, 1}),
    [](const ::testing::TestParamInfo<GameEnd>& info) { return std::string(info.param.name); });

// A host watching for Ctrl-C on its own thread stops the controller while the
// start is in its pauses (here long enough that only the cut can end them).
// The cut is the start's alone: a handler waiting meanwhile for a game's end
// (after STOPPED) waits on and sees the game end.
TEST_F(ControllerTest, AStopFromAnotherThreadCutsOnlyTheStartShortAndLeavesItStopped) {
    Drux::testing::figures().processStartPauseMs = 600000;
    ASSERT_EQ(1, init());
    ProcessTest::StartedProcesses programs;
    const Drux::ProcessId game = programs.launch(gamePath_);
    std::atomic<int32_t> sawTheGameEnd{-1};
    std::thread handler([&] { sawTheGameEnd = Drux::processWaits().waitForProcessExit(game, 600000) ? 1 : 0; });
    ASSERT_TRUE(waitUntil([] { return Drux::processWaits().inProgress() == 1; }));
    std::atomic<int32_t> started{-1};
    std::thread host([&] { started = VantrelServerController_Start(); });
    const Record air = runsOf(airPath_).at(0);  // the AIR client is started: the start is pausing
    EXPECT_EQ(1, VantrelServerController_Stop());
    host.join();
    EXPECT_EQ(0, started.load());
    Drux::terminateProcess(game);
    handler.join();
    EXPECT_EQ(1, sawTheGameEnd.load());
    EXPECT_EQ(0, Drux::currentController()->isStarted.load());
    EXPECT_TRUE(logContains("INFO: The start was stopped before it ended.\n"));
    // Only that start's pauses were cut: later ones run in full again.
    EXPECT_FALSE(Drux::processWaits().interrupted());
    EXPECT_TRUE(alive(air.pid()));  // the host's to close
}

}  // namespace
}  // namespace LauncherTest
