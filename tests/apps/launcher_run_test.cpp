// Whole launcher runs of the real programs as separate processes: the
// launcher host, the stand-in AIR client and game, and the patch library.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "launcher_run.h"

namespace {

using DruxAppTest::LauncherRun;

bool eventually(const std::function<bool()>& condition, int seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// What every run must end with: nothing left running, no sanitizer report.
void expectCleanEnd(const LauncherRun& run) {
    EXPECT_TRUE(eventually([&] { return !run.anyProgramRunning(); })) << run.timelineText();
    EXPECT_EQ(run.sanitizerReports(), "");
    EXPECT_TRUE(run.noted("launcher", "removed the controller")) << run.timelineText();
}

class LauncherRunTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (HasFailure()) std::printf("timeline:\n%s\nlauncher output:\n%s\n", run.timelineText().c_str(),
                                      run.launcherOutput().c_str());
    }
    LauncherRun run;
};

TEST_F(LauncherRunTest, OrdinaryRunRelaysChatBothWaysAndEndsThroughTheExitCallback) {
    run.setScript(
        "create game first second\n"
        "wait LAUNCHED 20\n"
        "wait CONNECTED_TO_SERVER 20\n"
        "chat hello game\n"
        "wait CHATMESSAGE_FROM_GAME 10 echo: hello game\n"
        "chat /quit\n"
        "wait STOPPED 20\n"
        "close\n");
    run.start();
    ASSERT_EQ(run.waitForExit(), 0);
    EXPECT_TRUE(run.noted("game", "ordinary start, game port " + std::to_string(run.ports()[2]) +
                                      ", arguments \"first second\""));
    EXPECT_TRUE(run.noted("game", "<- launcher  CHATMESSAGE_TO_GAME \"hello game\""));
    EXPECT_TRUE(run.noted("air-client", "script passed"));
    EXPECT_TRUE(run.noted("launcher", "exit callback"));
    EXPECT_FALSE(run.noted("launcher", "error callback"));
    expectCleanEnd(run);
}

TEST_F(LauncherRunTest, VersionRunStartsTheGameThePatchLibraryInstalled) {
    run.setScript(
        "enumerate latest 1\n"
        "wait ENUMERATE_LATEST_VERSIONS 10 [\"2.0.0\"]\n"
        "install 1.1.0\n"
        "install progress\n"
        "wait INSTALL_PROGRESS 10 \"state\":\"complete\"\n"
        "enumerate installed\n"
        "wait ENUMERATE_INSTALLED_VERSIONS 10 [\"1.1.0\"]\n"
        "create version 1.1.0 with args\n"
        "wait CONNECTED_TO_SERVER 20\n"
        "chat /quit\n"
        "wait STOPPED 20\n"
        "close\n");
    run.start();
    ASSERT_EQ(run.waitForExit(), 0);
    EXPECT_TRUE(run.noted("game", "started from " + run.dir() + "/versions/1.1.0/drux-game"));
    EXPECT_TRUE(run.noted("game", "arguments \"with args\""));
    // The version's folder holds the game and the launcher library it loads.
    EXPECT_TRUE(std::filesystem::exists(run.file("versions/1.1.0/libDruxLauncher.so.1")));
    EXPECT_TRUE(run.noted("air-client", "script passed"));
    expectCleanEnd(run);
}

TEST_F(LauncherRunTest, PreloadedGameTakesCredentialsAndPlayFromTheAirPort) {
    run.setScript(
        "preload abc def\n"
        "wait INITIAL_PRELOAD_COMPLETE 20\n"
        "credentials user=demo\n"
        "wait UPDATE_PLAYER_CONNECTION 10 player connected: user=demo\n"
        "play\n"
        "wait GAME_LOADING_COMPLETE 10\n"
        "wait CONNECTED_TO_SERVER 10\n"
        "chat /quit\n"
        "wait STOPPED 20\n"
        "close\n");
    run.start();
    ASSERT_EQ(run.waitForExit(), 0);
    EXPECT_TRUE(run.noted("game", "preloaded, game port " + std::to_string(run.ports()[2]) + ", payload \"abc def\""));
    EXPECT_TRUE(run.noted("game", "credentials (AIR port): game port " + std::to_string(run.ports()[2])));
    EXPECT_TRUE(run.noted("game", "args \"user=demo\""));
    EXPECT_TRUE(run.noted("air-client", "script passed"));
    expectCleanEnd(run);
}

TEST_F(LauncherRunTest, AirClientKilledMidRunIsReportedAndEndsTheRun) {
    run.setScript(
        "create game\n"
        "wait CONNECTED_TO_SERVER 20\n"
        "chat /quit\n"
        "wait STOPPED 20\n");
    run.start();
    ASSERT_TRUE(run.waitForNote("air-client", "script passed"));
    ASSERT_EQ(run.pidsOf("air-client").size(), 1u);
    kill(run.pidsOf("air-client")[0], SIGKILL);
    ASSERT_EQ(run.waitForExit(), 2);
    EXPECT_TRUE(run.noted("launcher", "error callback: VANTRELERRORTYPE_AIRHEARTBEAT: Contact with Air lost version 2."));
    EXPECT_TRUE(run.noted("launcher", "exit callback"));
    expectCleanEnd(run);
}

TEST_F(LauncherRunTest, GameKilledMidRunReachesTheAirClientAsCrashed) {
    run.setScript(
        "create game\n"
        "wait CONNECTED_TO_SERVER 20\n"
        "wait CRASHED 20\n"
        "close\n");
    run.start();
    ASSERT_TRUE(run.waitForNote("game", "-> launcher  GAMECLIENT_CONNECTED_TO_SERVER"));
    // A game that ends before any poll has seen it running is not reported:
    // let the host's polls (every 100 ms) see it first.
    ASSERT_TRUE(run.waitForNote("launcher", "supervising the run"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(run.pidsOf("game").size(), 1u);
    kill(run.pidsOf("game")[0], SIGKILL);
    ASSERT_EQ(run.waitForExit(), 0);
    EXPECT_TRUE(run.noted("air-client", "<- launcher  GAMECLIENT_CRASHED"));
    EXPECT_TRUE(run.noted("air-client", "script passed"));
    expectCleanEnd(run);
}

TEST_F(LauncherRunTest, CtrlCClosesTheRunAndRemovesEverything) {
    // The commands travel on the AIR client's command line this time.
    run.start({"--air-args", "--commands \"create game; wait CONNECTED_TO_SERVER 20\""});
    ASSERT_TRUE(run.waitForNote("air-client", "script passed: 2 commands"));
    EXPECT_TRUE(run.noted("air-client", "started, script --commands"));
    run.signalLauncher(SIGINT);
    ASSERT_EQ(run.waitForExit(), 130);
    // The AIR client answers the launcher's CLOSE, which closes the game too.
    EXPECT_TRUE(run.noted("air-client", "the launcher closed the run; answering CLOSE"));
    EXPECT_TRUE(run.noted("game", "<- launcher  CLOSE"));
    EXPECT_TRUE(run.noted("game", "-> launcher  GAMECLIENT_STOPPED"));
    expectCleanEnd(run);
}

}  // namespace
