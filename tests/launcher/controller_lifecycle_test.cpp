// Creating, starting, stopping and removing the controller, and the exports
// that only read or set its state.
#include <filesystem>
#include <string>

#include "controller_fixture.h"
#include "launcher/server_controller.h"

namespace LauncherTest {
namespace {

const std::string kNotInitialized = "ERROR: VantrelServerControllerStruct is not yet initialized.\n";

TEST_F(ControllerTest, WithoutAControllerTheExportsRefuseAndOnlyTheHwndIsKept) {
    const size_t linesBefore = logLines().size();
    EXPECT_EQ(nullptr, VantrelServerController_GetAirServerHandle());
    EXPECT_EQ(0, VantrelServer_SendMessageToAllClients(nullptr, VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME, "x"));
    EXPECT_EQ(linesBefore, logLines().size()) << logText();
    EXPECT_EQ(1, VantrelServerController_RegisterHwnd(reinterpret_cast<void*>(4242)));

    EXPECT_EQ(0, VantrelServerController_Start());
    EXPECT_EQ(0, VantrelServerController_StartArgs("x"));
    EXPECT_EQ(0, VantrelServerController_StartArgsExplicit("x"));
    EXPECT_EQ(0, VantrelServerController_Stop());
    EXPECT_EQ(0, VantrelServerController_Remove());
    EXPECT_EQ(0, VantrelServerController_SetErrorMessageCallback(nullptr, nullptr));
    EXPECT_EQ(0, VantrelServerController_SetExitCallback(nullptr, nullptr));
    EXPECT_EQ(0, VantrelServerController_VerifyAllNeededFilesExist());
    EXPECT_EQ(0, VantrelServerController_ProcessEvents());
    VantrelServerController_CheckGameTerminationState();
    EXPECT_EQ(9u, logCount(kNotInitialized));
    EXPECT_EQ(linesBefore + 9, logLines().size()) << logText();

    // The handle registered before Init is named when the AIR client starts.
    initAndStart();
    EXPECT_TRUE(logContains("INFO: Using registered HWND: 4242 to launch the air client.\n"));
    VantrelServerController_RegisterHwnd(nullptr);
}

TEST_F(ControllerTest, StartLaunchesTheAirClientWithItsCommandLineInItsOwnDirectory) {
    ASSERT_EQ(1, init());
    EXPECT_NE(nullptr, VantrelServerController_GetAirServerHandle());
    ASSERT_EQ(1, VantrelServerController_Start());

    const std::vector<ProgramRun> runs = runsOf(airPath_);
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ("-runtime .\\ -nodebug META-INF\\AIR\\application.xml .\\ -- " + std::to_string(airPort_),
              runs[0].commandLine());
    EXPECT_EQ(directory()->path(), runs[0].cwd);
    EXPECT_TRUE(errors().empty());

    // Both servers listen now.
    FakePeer air(airPort_), game(gamePort_);
    EXPECT_TRUE(air.connected());
    EXPECT_TRUE(game.connected());
}

TEST_F(ControllerTest, ExtraArgumentsUpTo2000CharactersAreAcceptedAndTheLineIsCutAt2047) {
    ASSERT_EQ(1, init());
    const std::string tooLong(2001, 'x');
    EXPECT_EQ(0, VantrelServerController_StartArgs(tooLong.c_str()));
    EXPECT_TRUE(logContains("ERROR: Failed because arguments passed are too long.\n"));
    EXPECT_TRUE(errors().empty());
    EXPECT_TRUE(recordedRuns(airPath_).empty());

    const std::string longest(2000, 'y');
    ASSERT_EQ(1, VantrelServerController_StartArgs(longest.c_str()));
    const std::vector<ProgramRun> runs = runsOf(airPath_);
    ASSERT_EQ(1u, runs.size());
    const std::string full =
        "-runtime .\\ -nodebug META-INF\\AIR\\application.xml .\\ -- " + std::to_string(airPort_) + " " + longest;
    EXPECT_EQ(full.substr(0, 2047), runs[0].commandLine());
}

TEST_F(ControllerTest, ASecondStartIsRefusedAndAStartAfterStopReportsTheListeningServers) {
    initAndStart();
    EXPECT_EQ(0, VantrelServerController_Start());
    std::vector<ReportedError> reported = errors();
    ASSERT_EQ(1u, reported.size());
    EXPECT_EQ(this, reported[0].context);
    EXPECT_EQ(VANTRELERRORTYPE_GENERIC, reported[0].type);
    EXPECT_EQ("The controller is already started.\n", reported[0].text);

    // Stop touches neither server nor program; the next start meets both
    // servers listening and the AIR client still running, reports each, and
    // still counts as a start.
    EXPECT_EQ(1, VantrelServerController_Stop());
    EXPECT_EQ(1, VantrelServerController_Start());
    reported = errors();
    ASSERT_EQ(4u, reported.size());
    EXPECT_EQ(VANTRELERRORTYPE_AIRCOMMSTART, reported[1].type);
    EXPECT_EQ("Unable to start communications for air.\n", reported[1].text);
    EXPECT_EQ(VANTRELERRORTYPE_GAMECOMMSTART, reported[2].type);
    EXPECT_EQ(VANTRELERRORTYPE_AIRPROCESSSTART, reported[3].type);
    EXPECT_EQ("Unable to start air.\n", reported[3].text);
    EXPECT_EQ(1u, runsOf(airPath_).size());
    EXPECT_EQ(0, VantrelServerController_Start());  // started again
}

TEST_F(ControllerTest, ALauncherPortInUseFailsInitButLeavesAControllerToRemove) {
    Drux::SocketHandle blocker = Drux::socketCreate();
    ASSERT_TRUE(Drux::socketBind(blocker, launcherPort_));
    ASSERT_TRUE(Drux::socketListen(blocker));

    EXPECT_EQ(0, init());
    EXPECT_TRUE(logContains("ERROR: Unable to start communications for vantrel.\n"));
    const std::vector<ReportedError> reported = errors();
    ASSERT_EQ(1u, reported.size());
    EXPECT_EQ(nullptr, reported[0].context);
    EXPECT_EQ(VANTRELERRORTYPE_COMMUNICATIONSTART, reported[0].type);
    EXPECT_EQ("Unable to start communications for vantrel.\n", reported[0].text);

    EXPECT_NE(nullptr, VantrelServerController_GetAirServerHandle());
    EXPECT_EQ(1, VantrelServerController_Remove());
    EXPECT_EQ(nullptr, VantrelServerController_GetAirServerHandle());
    Drux::socketClose(blocker);
}

TEST_F(ControllerTest, ASecondInitReplacesTheControllerAndFreesItsPorts) {
    ASSERT_EQ(1, init());
    ASSERT_EQ(1, init());  // the same launcher port: free again
    EXPECT_TRUE(logContains("WARNING: A controller already exists; it is removed before the new one is created.\n"));

    FakePeer launcher(launcherPort_);
    ASSERT_TRUE(launcher.connected());
    launcher.send(VANTRELMESSAGETYPE_LAUNCHERCLIENT);
    EXPECT_TRUE(DruxTest::waitUntil([&] { return logContains("INFO: Received VANTRELMESSAGETYPE_LAUNCHERCLIENT\n"); }));

    EXPECT_EQ(1, VantrelServerController_Remove());
    EXPECT_EQ(0, VantrelServerController_Remove());
    EXPECT_EQ(1u, logCount(kNotInitialized));
}

TEST_F(ControllerTest, VerifyingTheFilesNamesEachMissingOneAndReportsOnce) {
    std::filesystem::remove(gamePath_);
    ASSERT_EQ(1, init());
    ASSERT_EQ(1, VantrelServerController_SetErrorMessageCallback(this, &ControllerTest::onError));
    EXPECT_EQ(0, VantrelServerController_VerifyAllNeededFilesExist());
    EXPECT_EQ(1u, logCount("ERROR: The file [" + launcherPath_ + "] does not exist."));
    EXPECT_EQ(1u, logCount("ERROR: The file [" + gamePath_ + "] does not exist."));
    EXPECT_EQ(0u, logCount("ERROR: The file [" + airPath_ + "]"));
    const std::vector<ReportedError> reported = errors();
    ASSERT_EQ(1u, reported.size());
    EXPECT_EQ(VANTRELERRORTYPE_GENERIC, reported[0].type);
    EXPECT_EQ("One or more of the required applications could not be found.\n", reported[0].text);

    DruxTest::writeFile(launcherPath_, "host");
    copyGameProgram("");
    EXPECT_EQ(1, VantrelServerController_VerifyAllNeededFilesExist());
    EXPECT_EQ(1u, errors().size());
}

}  // namespace
}  // namespace LauncherTest
