// Killing and waiting for processes by the file name of their executable.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>

#include "VantrelProcessHelper.h"
#include "process/process_discovery.h"
#include "process/process_test_support.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using ProcessDiscovery = ProcessTest::Fixture;

std::string upperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

TEST_F(ProcessDiscovery, KillByNameEndsEveryExactMatchFromAnyDirectoryAndNothingElse) {
    const std::string name = ProcessTest::uniqueName("twin");
    const Drux::ProcessId first = started.launch(install(DRUX_PROBE_PROGRAM, "a/" + name));
    const Drux::ProcessId second = started.launch(install(DRUX_PROBE_PROGRAM, "b/" + name));
    const Drux::ProcessId otherCase = started.launch(install(DRUX_PROBE_PROGRAM, "c/" + upperCase(name)));
    const std::string logBefore = logText();

    EXPECT_EQ(1, VantrelProcessHelper_KillProcessByName(("/elsewhere/" + name).c_str()));
    EXPECT_TRUE(ProcessTest::endsSoon(first));
    EXPECT_TRUE(ProcessTest::endsSoon(second));
    EXPECT_TRUE(Drux::processIsRunning(otherCase));
    EXPECT_EQ(1, VantrelProcessHelper_KillProcessByName(path("no-such-program").c_str()));
    EXPECT_EQ(logBefore, logText());

    // By type, the file name of the type's path counts.
    ASSERT_EQ(1, VantrelProcessHelper_Init("launcher", "air", ("C:\\other\\" + upperCase(name)).c_str()));
    EXPECT_EQ(1, VantrelProcessHelper_KillProcess(VANTRELPROCESSTYPE_GAME));
    EXPECT_TRUE(ProcessTest::endsSoon(otherCase));
}

TEST_F(ProcessDiscovery, KillByTheCallersOwnNameSparesTheCaller) {
    const std::string name = ProcessTest::uniqueName("killer");
    const Drux::ProcessId waiting = started.launch(install(DRUX_NAME_KILLER_PROGRAM, "one/" + name), "wait");
    const std::string killing = install(DRUX_NAME_KILLER_PROGRAM, "two/" + name);
    const Drux::ProcessId killer = started.launch(killing, "kill");
    const std::string report = killing + "." + std::to_string(killer) + ".out";
    EXPECT_TRUE(DruxTest::waitUntil([&] { return DruxTest::readFile(report) == "survived\n"; }));
    EXPECT_TRUE(ProcessTest::endsSoon(waiting));
}

TEST_F(ProcessDiscovery, WaitByNameReportsAnEndWithinTheWaitAndGivesUpOnAProgramThatRunsOn) {
    Drux::testing::figures().processExitWaitMs = 5000;
    const std::string shortLived = install(DRUX_PROBE_PROGRAM, ProcessTest::uniqueName("short"));
    started.launch(shortLived, "lifetime=200");
    EXPECT_EQ(1, WaitForProcessExitByName(shortLived.c_str()));
    EXPECT_TRUE(fs::exists(shortLived + ".out.done"));

    const std::string longLived = install(DRUX_PROBE_PROGRAM, ProcessTest::uniqueName("long"));
    const Drux::ProcessId id = started.launch(longLived);
    Drux::testing::figures().processExitWaitMs = 100;
    auto begin = Clock::now();
    EXPECT_EQ(0, WaitForProcessExitByName(longLived.c_str()));
    EXPECT_GE(Clock::now() - begin, std::chrono::milliseconds(100));
    EXPECT_TRUE(Drux::processIsRunning(id));

    // Nothing that matches exactly: no wait at all, and no log line.
    Drux::testing::figures().processExitWaitMs = 5000;
    const std::string logBefore = logText();
    begin = Clock::now();
    EXPECT_EQ(0, WaitForProcessExitByName(upperCase(longLived).c_str()));
    EXPECT_EQ(0, WaitForProcessExitByName(path("nothing").c_str()));
    EXPECT_LT(Clock::now() - begin, std::chrono::milliseconds(2500));
    EXPECT_EQ(logBefore, logText());
}

}  // namespace
