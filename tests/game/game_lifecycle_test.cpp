// The game controller's lifetime: without a record, before and after Start,
// and killing the programs it names.
#include "core/platform/clock.h"
#include "game/game_test_support.h"
#include "process/process_test_support.h"

namespace {

using GameTest::RawLauncher;
using GameLifecycle = GameTest::Fixture;

size_t occurrences(const std::string& text, const std::string& piece) {
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++count;
    return count;
}

TEST_F(GameLifecycle, EveryExportButInitRefusesWithoutAController) {
    int32_t value = 7;
    const int32_t results[] = {
        VantrelGameController_Start(1),
        VantrelGameController_Remove(),
        VantrelGameController_SetExitCallback(nullptr, nullptr),
        VantrelGameController_SetReceiveChatMessageCallback(nullptr, nullptr),
        VantrelGameController_SetHeartbeatActive(1),
        VantrelGameController_GetHeartbeatActive(&value),
        VantrelGameController_SendChatMessage("x"),
        VantrelGameController_SendGameConnectedToServerMessage(),
        VantrelGameController_SendGameLaunchedMessage(),
        VantrelGameController_SendGameVersionMismatchMessage(),
        VantrelGameController_SendGameAbandonedMessage(),
        VantrelGameController_SendShutdownMessage(),
        VantrelGameController_KillProcesses(),
        VantrelGameController_AreProcessesHung(&value),
    };
    for (int32_t result : results) EXPECT_EQ(0, result);
    EXPECT_EQ(7, value);
    EXPECT_EQ(14u, occurrences(logText(), "ERROR: VantrelGameControllerStruct is not yet initialized.\n"));
}

TEST_F(GameLifecycle, BeforeStartNothingIsSentAndAFailedStartCanBeRepeated) {
    const std::string longName(300, 'n');
    ASSERT_EQ(1, VantrelGameController_Init(longName.c_str(), nullptr));
    EXPECT_EQ(longName.substr(0, 259), CurrentGameController()->firstProcessName);
    EXPECT_STREQ("", CurrentGameController()->secondProcessName);
    EXPECT_TRUE(logContains("WARNING: VantrelGameController_Init was given no second process name"));

    EXPECT_EQ(1, VantrelGameController_SendChatMessage("early"));
    EXPECT_EQ(0, VantrelGameController_SendGameLaunchedMessage());
    EXPECT_EQ(2u, occurrences(logText(), "ERROR: Cannot send messages when the MessageAgent isn't started.\n"));

    int32_t closedPort = 0;
    {
        RawLauncher gone;
        closedPort = gone.port();
    }
    EXPECT_EQ(0, VantrelGameController_Start(closedPort));
    EXPECT_TRUE(logContains("ERROR: Unable to connect to server.\n"));

    RawLauncher launcher;
    ASSERT_EQ(1, VantrelGameController_Start(launcher.port()));
    launcher.accept();
    // A refused second Start still restarts the silence count.
    Drux::testing::advanceClock(200 * 1000);
    int32_t hung = -1;
    EXPECT_EQ(1, VantrelGameController_AreProcessesHung(&hung));
    EXPECT_EQ(1, hung);
    EXPECT_EQ(0, VantrelGameController_Start(launcher.port()));
    EXPECT_TRUE(logContains("ERROR: This client has already been started.\n"));
    EXPECT_EQ(1, VantrelGameController_AreProcessesHung(&hung));
    EXPECT_EQ(0, hung);
}

TEST_F(GameLifecycle, KillProcessesEndsBothNamedProgramsAndThePatchTools) {
    ProcessTest::StartedProcesses started;
    auto install = [&](const std::string& name) {
        return ProcessTest::installProgram(DRUX_PROBE_PROGRAM, directory()->file("tools/" + name));
    };
    const std::string first = install(ProcessTest::uniqueName("first"));
    const std::string second = install(ProcessTest::uniqueName("second"));
    std::vector<Drux::ProcessId> ids;
    for (const std::string& path : {first, second, install("volp_agent.exe"), install("ZemDiff.exe"),
                                    install("ZemPatch.exe")})
        ids.push_back(started.launch(path));
    ASSERT_EQ(1, VantrelGameController_Init(first.c_str(), second.c_str()));
    EXPECT_EQ(1, VantrelGameController_KillProcesses());
    for (Drux::ProcessId id : ids) EXPECT_TRUE(ProcessTest::endsSoon(id)) << id;
}

}  // namespace
