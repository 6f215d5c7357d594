// Removing the controller while its connections are busy: whatever a handler
// waits for, Remove returns at once, and the host is not called back.
#include <atomic>
#include <chrono>
#include <thread>

#include "controller_fixture.h"
#include "core/figures.h"
#include "launcher/server_controller.h"

namespace LauncherTest {
namespace {

using DruxTest::waitUntil;
using Clock = std::chrono::steady_clock;

constexpr auto kPrompt = std::chrono::milliseconds(1500);

class ShutdownTest : public ControllerTest {
protected:
    // Removes the controller; true when that took less than kPrompt.
    bool removePromptly() {
        const auto start = Clock::now();
        EXPECT_EQ(1, VantrelServerController_Remove());
        removeTook_ = Clock::now() - start;
        return removeTook_ < kPrompt;
    }
    // Gives a handler that was just sent a message time to reach its wait.
    static void letTheHandlerBlock() { std::this_thread::sleep_for(std::chrono::milliseconds(200)); }

    Clock::duration removeTook_{};
};

TEST_F(ShutdownTest, RemoveCutsShortTheWaitForARunningGame) {
    Drux::testing::figures().gameRunningPollMs = 250;
    Drux::testing::figures().gameRunningPollCount = 240;
    initAndStart();
    FakePeer air(airPort_);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE);
    runsOf(gamePath_);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE, "second");
    letTheHandlerBlock();

    EXPECT_TRUE(removePromptly()) << std::chrono::duration_cast<std::chrono::milliseconds>(removeTook_).count();
    EXPECT_EQ(1u, recordedRuns(gamePath_).size());
    EXPECT_EQ(0, exitCalls());
    EXPECT_FALSE(logContains("while game is already running"));
}

TEST_F(ShutdownTest, RemoveCutsShortTheGameStartsPause) {
    initAndStart();
    FakePeer air(airPort_);
    Drux::testing::figures().processStartPauseMs = 60000;
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE);
    runsOf(gamePath_);
    letTheHandlerBlock();

    EXPECT_TRUE(removePromptly()) << std::chrono::duration_cast<std::chrono::milliseconds>(removeTook_).count();
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(0, exitCalls());
}

TEST_F(ShutdownTest, RemoveCutsShortTheGraceOfAClose) {
    initAndStart();
    FakePeer air(airPort_);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE);  // a game that ignores CLOSE
    runsOf(gamePath_);
    Drux::testing::figures().closeStopGraceMs = 60000;
    air.send(VANTRELMESSAGETYPE_CLOSE);
    letTheHandlerBlock();

    EXPECT_TRUE(removePromptly()) << std::chrono::duration_cast<std::chrono::milliseconds>(removeTook_).count();
    EXPECT_EQ(0, exitCalls());
}

TEST_F(ShutdownTest, RemoveCutsShortTheWaitForAnAnnouncedGameEnd) {
    Drux::testing::figures().processExitWaitMs = 60000;
    initAndStart();
    FakePeer air(airPort_);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE);
    const ProgramRun game = runsOf(gamePath_).at(0);
    FakePeer gameConnection(gamePort_);
    gameConnection.send(VANTRELMESSAGETYPE_GAMECLIENT_STOPPED);  // but it keeps running
    letTheHandlerBlock();

    EXPECT_TRUE(removePromptly()) << std::chrono::duration_cast<std::chrono::milliseconds>(removeTook_).count();
    EXPECT_EQ(0u, air.count(VANTRELMESSAGETYPE_GAMECLIENT_STOPPED));
    EXPECT_TRUE(alive(game.pid));  // neither killed nor waited for any longer
}

TEST_F(ShutdownTest, RemoveRightAfterAnExitCallbackOnAConnectionThread) {
    initAndStart();
    FakePeer air(airPort_);
    FakePeer game(gamePort_);
    linkAirClient(air);
    linkGameConnection(air, game);
    air.send(VANTRELMESSAGETYPE_CLOSE);
    ASSERT_TRUE(waitUntil([&] { return exitCalls() == 1; }, std::chrono::milliseconds(5000)));
    EXPECT_TRUE(removePromptly()) << std::chrono::duration_cast<std::chrono::milliseconds>(removeTook_).count();
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
    ASSERT_TRUE(waitUntil([&] { return logContains("cannot be called from inside a controller callback"); }));
    EXPECT_TRUE(logContains(
        "ERROR: VantrelServerController_Remove cannot be called from inside a controller callback.\n"));
    EXPECT_NE(nullptr, CurrentController());

    // The same on the host's own thread, from a poll's callback.
    result = -1;
    VantrelServerController_Start();
    const ProgramRun airRun = recordedRuns(airPath_).back();
    Drux::terminateProcess(airRun.pid);
    ASSERT_TRUE(waitGone(airRun.pid));
    VantrelServerController_ProcessEvents();
    EXPECT_EQ(0, result);
    EXPECT_TRUE(removePromptly());
}

}  // namespace
}  // namespace LauncherTest
