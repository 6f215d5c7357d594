// Starting, testing and stopping real programs through the process helper.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "VantrelProcessHelper.h"
#include "process/process_test_support.h"

namespace {

namespace fs = std::filesystem;
using ProcessTest::appearInOrder;
using Clock = std::chrono::steady_clock;

class ProcessLaunch : public ProcessTest::Fixture {
protected:
    uint32_t running(int32_t type) {
        uint32_t value = 7;
        EXPECT_EQ(1, VantrelProcessHelper_IsProcessRunning(type, &value));
        return value;
    }
};

TEST_F(ProcessLaunch, AStartedProgramGetsItsCommandLineAndDirectoryAndIsTerminatedAfterItsGrace) {
    const std::string relative = "game dir/bin/" + ProcessTest::uniqueName("probe");
    install(DRUX_PROBE_PROGRAM, relative);
    ASSERT_EQ(1, VantrelProcessHelper_Init("launcher", "air", relative.c_str()));

    // Descriptors of ours the program must not see: an inheritable one, and a pipe as standard input.
    const int inheritable = open("/dev/null", O_RDONLY);
    int input[2];
    ASSERT_EQ(0, pipe(input));
    const int savedInput = dup(0);
    dup2(input[0], 0);
    const int32_t result =
        VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_GAME, R"(plain "two words" a\\\"b c\d)");
    dup2(savedInput, 0);
    for (int fd : {savedInput, input[0], input[1], inheritable}) close(fd);
    ASSERT_EQ(1, result);
    const uint32_t id = ProcessHelperState()->gameProcessId;
    started.add(id, relative);
    ProcessTest::Report report = ProcessTest::waitForReport(path(relative) + ".out");
    EXPECT_EQ(std::to_string(id), report.value("pid"));
    EXPECT_EQ((std::vector<std::string>{relative, "plain", "two words", R"(a\"b)", R"(c\d)"}), report.all("argv"));
    EXPECT_EQ((fs::current_path() / "game dir/bin").string(), report.value("cwd"));
    EXPECT_EQ("/dev/null", report.value("stdin"));
    EXPECT_EQ("1", report.value("session_leader"));
    EXPECT_EQ("0", report.value("inherited_descriptors"));
    EXPECT_TRUE(appearInOrder(logText(), {"INFO: New thread go!\n", "INFO: Starting Process Thread Spinning\n",
                                           "INFO: StartProcess [VANTRELPROCESSTYPE_GAME] successful\n"}));

    EXPECT_EQ(0, VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_GAME, ""));
    EXPECT_TRUE(appearInOrder(logText(), {"ERROR: Process is already running.\n", "ERROR: Process Start: "}));
    EXPECT_EQ(1u, running(VANTRELPROCESSTYPE_GAME));

    const auto begin = Clock::now();
    EXPECT_EQ(1, VantrelProcessHelper_StopProcess(VANTRELPROCESSTYPE_GAME, 200));
    EXPECT_GE(Clock::now() - begin, std::chrono::milliseconds(190));  // the clock counts whole milliseconds
    EXPECT_TRUE(ProcessTest::endsSoon(id));
    EXPECT_EQ(0u, running(VANTRELPROCESSTYPE_GAME));
    EXPECT_FALSE(fs::exists(path(relative) + ".out.done"));  // terminated, did not end by itself
    EXPECT_FALSE(ProcessTest::hasChildren());
}

TEST_F(ProcessLaunch, AProgramThatEndsReadsAsEndedWithoutAZombieAndAStopWaitsForItsEnd) {
    const std::string quick = install(DRUX_QUICK_EXIT_PROGRAM, ProcessTest::uniqueName("quick"));
    const std::string probe = install(DRUX_PROBE_PROGRAM, ProcessTest::uniqueName("probe"));
    ASSERT_EQ(1, VantrelProcessHelper_Init("launcher", "air", quick.c_str()));
    ASSERT_EQ(1, VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_GAME, ""));
    EXPECT_NE(0u, ProcessHelperState()->gameProcessId.load());
    EXPECT_TRUE(DruxTest::waitUntil([&] { return running(VANTRELPROCESSTYPE_GAME) == 0; }));
    EXPECT_FALSE(ProcessTest::hasChildren());

    SetGamePath(probe.c_str());
    EXPECT_EQ(0u, ProcessHelperState()->gameProcessId.load());
    ASSERT_EQ(1, VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_GAME, "lifetime=300"));
    started.add(ProcessHelperState()->gameProcessId, probe);
    const auto begin = Clock::now();
    EXPECT_EQ(1, VantrelProcessHelper_StopProcess(VANTRELPROCESSTYPE_GAME, 20000));
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(10));
    EXPECT_TRUE(fs::exists(probe + ".out.done"));  // it ended by itself within the grace

    ResetGamePathToDefault();
    EXPECT_EQ(quick, ProcessHelperState()->gamePath);
    EXPECT_EQ(0u, ProcessHelperState()->gameProcessId.load());
}

TEST_F(ProcessLaunch, AProgramThatCannotStartIsReportedAndNoIdentifierIsKept) {
    fs::create_directories(path("air dir"));
    DruxTest::writeFile(path("air dir/not-a-program"), "text");
    ASSERT_EQ(1, VantrelProcessHelper_Init("launcher", "air dir/not-a-program", "missing/game"));

    EXPECT_EQ(0, VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_GAME, "x"));
    EXPECT_TRUE(appearInOrder(logText(), {"INFO: [VantrelAgent_DebugLoop] No such file or directory\n",
                                           "ERROR: Failed to start process.\n", "ERROR: Process Start: 2\n"}));
    EXPECT_EQ(0u, ProcessHelperState()->gameProcessId.load());

    // An AIR client of ours that has ended: no search, so other AIR clients on the machine do not count.
    const Drux::ProcessId ended = started.launch(DRUX_QUICK_EXIT_PROGRAM);
    ASSERT_TRUE(ProcessTest::endsSoon(ended));
    SetProcessIdForProcessType(VANTRELPROCESSTYPE_AIR, ended);
    EXPECT_EQ(0, VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_AIR, ""));
    EXPECT_TRUE(appearInOrder(
        logText(),
        {"INFO: [VantrelAgent_DebugLoop] Permission denied\n",
         "ERROR: " + (fs::current_path() / "air dir").string() + "/ERROR: Failed to start process.\n",
         "ERROR: Process Start: 13\n"}));
    EXPECT_EQ(ended, ProcessHelperState()->airProcessId.load());
}

TEST_F(ProcessLaunch, AnAirClientStartSearchesFirstAndNamesTheRegisteredWindow) {
    if (ProcessTest::foreignAirClientRuns(started)) GTEST_SKIP() << "another AIR client runs on this machine";
    const std::string air = install(DRUX_PROBE_PROGRAM, ProcessTest::uniqueName("air"));
    ASSERT_EQ(1, VantrelProcessHelper_Init("launcher", air.c_str(), "game"));
    SetRegisteredHwnd(reinterpret_cast<void*>(4242));
    ASSERT_EQ(1, VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_AIR, "-- 4000"));
    const uint32_t id = ProcessHelperState()->airProcessId;
    started.add(id, air);

    EXPECT_TRUE(appearInOrder(
        logText(), {"ERROR: Looking for air at KyrCLient.exe to fill in new proc info, but did not find it.\n",
                    "INFO: Using registered HWND: 4242 to launch the air client.\n",
                    "INFO: StartProcess [VANTRELPROCESSTYPE_AIR] successful\n"}));
    EXPECT_EQ((std::vector<std::string>{air, "--", "4000"}), ProcessTest::waitForReport(air + ".out").all("argv"));
    EXPECT_EQ(1, VantrelProcessHelper_StopProcess(VANTRELPROCESSTYPE_AIR, 0));
    EXPECT_TRUE(ProcessTest::endsSoon(id));
}

TEST_F(ProcessLaunch, TheRunningTestAdoptsARunningAirClientWhateverTheLetterCase) {
    ASSERT_EQ(1, VantrelProcessHelper_Init("launcher", "air", "game"));
    EXPECT_EQ(0u, running(VANTRELPROCESSTYPE_GAME));
    EXPECT_FALSE(logContains("Looking for air"));  // only the AIR client is searched for

    setenv("DRUX_PROBE_OUTPUT", path("exact.out").c_str(), 1);  // not beside the built program
    const Drux::ProcessId exact = started.launch(DRUX_AIR_PROBE_PROGRAM);
    unsetenv("DRUX_PROBE_OUTPUT");
    const Drux::ProcessId otherCase = started.launch(install(DRUX_AIR_PROBE_PROGRAM, "air/kyrclient.EXE"));
    if (ProcessTest::foreignAirClientRuns(started)) GTEST_SKIP() << "another AIR client runs on this machine";
    EXPECT_EQ(1u, running(VANTRELPROCESSTYPE_AIR));
    EXPECT_EQ(std::max(exact, otherCase), ProcessHelperState()->airProcessId.load());  // the later one in the list
    for (Drux::ProcessId id : {exact, otherCase})
        EXPECT_TRUE(logContains("INFO: I found what appears to be a new handle for KyrCLient.exe.  New: " +
                                std::to_string(id) + "\n"));
}

}  // namespace
