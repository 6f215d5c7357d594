// Removing the controller while its connections are busy: whatever a handler
// waits for, Remove returns at once, and the host is not called back.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "controller_fixture.h"
#include "core/figures.h"
#include "launcher/server_controller.h"

namespace LauncherTest {
namespace {

using Clock = std::chrono::steady_clock;

class ShutdownTest : public ControllerTest {
protected:
    // Removes the controller and expects that to take well under a second and a half.
    void expectPromptRemove() {
        const auto start = Clock::now();
        EXPECT_EQ(1, VantrelServerController_Remove());
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        EXPECT_LT(took.count(), 1500);
    }
    // Starts a run with a game that ignores everything (its start pausing
    // gameStartPauseMs), lets `block` put a handler into a long wait, and
    // removes the controller.
    void removeWhileBlocked(const std::function<void(FakePeer& air, const ProgramRun& game)>& block,
                            uint32_t gameStartPauseMs = 10) {
        initAndStart();
        Drux::testing::figures().processStartPauseMs = gameStartPauseMs;
        FakePeer air(airPort_);
        air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE);
        const ProgramRun game = runsOf(gamePath_).at(0);
        block(air, game);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // into its wait
        expectPromptRemove();
        EXPECT_EQ(0, exitCalls());
        EXPECT_TRUE(errors().empty());
    }
};

TEST_F(ShutdownTest, RemoveCutsShortTheWaitForARunningGame) {
    Drux::testing::figures().gameRunningPollMs = 250;
    Drux::testing::figures().gameRunningPollCount = 240;
    removeWhileBlocked([](FakePeer& air, const ProgramRun&) { air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE); });
    EXPECT_EQ(1u, recordedRuns(gamePath_).size());
    EXPECT_FALSE(logContains("while game is already running"));
}

TEST_F(ShutdownTest, RemoveCutsShortTheGameStartsPause) {
    // The game is launched; its start then pauses.
    removeWhileBlocked([](FakePeer&, const ProgramRun&) {}, 60000);
}

TEST_F(ShutdownTest, RemoveCutsShortTheGraceOfAClose) {
    removeWhileBlocked([](FakePeer& air, const ProgramRun&) {
        Drux::testing::figures().closeStopGraceMs = 60000;
        air.send(VANTRELMESSAGETYPE_CLOSE);
    });
}

TEST_F(ShutdownTest, RemoveCutsShortTheWaitForAnAnnouncedGameEnd) {
    Drux::testing::figures().processExitWaitMs = 60000;
    removeWhileBlocked([this](FakePeer&, const ProgramRun& game) {
        FakePeer gameConnection(gamePort_);
        gameConnection.send(VANTRELMESSAGETYPE_GAMECLIENT_STOPPED);  // but it keeps running
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_TRUE(alive(game.pid));
    });
}

TEST_F(ShutdownTest, RemoveRightAfterAnExitCallbackOnAConnectionThread) {
    initAndStart();
    FakePeer air(airPort_);
    FakePeer game(gamePort_);
    linkAirClient(air);
    linkGameConnection(air, game);
    air.send(VANTRELMESSAGETYPE_CLOSE);
    ASSERT_TRUE(DruxTest::waitUntil([&] { return exitCalls() == 1; }));
    expectPromptRemove();
    EXPECT_TRUE(game.waitFor(VANTRELMESSAGETYPE_CLOSE));
}

// A host that removes the controller from inside its own callback is refused:
// the controller would be freed under the handler that is calling back.
void removeFromCallback(void* context) {
    static_cast<std::atomic<int32_t>*>(context)->store(VantrelServerController_Remove());
}

TEST_F(ShutdownTest, RemoveFromInsideACallbackIsRefused) {
    initAndStart();
    std::atomic<int32_t> result{-1};
    VantrelServerController_SetExitCallback(&result, &removeFromCallback);
    FakePeer air(airPort_);
    air.send(VANTRELMESSAGETYPE_CLOSE);
    ASSERT_TRUE(DruxTest::waitUntil([&] { return result.load() != -1; }));
    EXPECT_EQ(0, result.load());
    EXPECT_TRUE(logContains(
        "ERROR: VantrelServerController_Remove cannot be called from inside a controller callback.\n"));
    EXPECT_NE(nullptr, CurrentController());

    // The same on the host's own thread, from a poll's callback.
    ASSERT_TRUE(waitGone(runsOf(airPath_).at(0).pid));  // stopped by the CLOSE
    result = -1;
    VantrelServerController_Start();
    const ProgramRun airRun = runsOf(airPath_, 2).at(1);
    Drux::terminateProcess(airRun.pid);
    ASSERT_TRUE(waitGone(airRun.pid));
    VantrelServerController_ProcessEvents();
    EXPECT_EQ(0, result.load());
    expectPromptRemove();
}

}  // namespace
}  // namespace LauncherTest
