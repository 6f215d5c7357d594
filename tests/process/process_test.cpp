// The process helper: command lines, starting, testing and stopping real
// programs, finding and killing them by name (only our own user's), file
// checks, and bad input.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "VantrelProcessHelper.h"
#include "core/figures.h"
#include "core/platform/system_error.h"
#include "process/file_checks.h"
#include "process/process_discovery.h"
#include "process/process_helper.h"
#include "process/process_launch.h"
#include "process/process_test_support.h"
#include "support/test_system.h"

#ifdef __linux__
#  include <sys/stat.h>

#  include "support/peer_process.h"  // its system headers too
#endif

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr uint32_t kOneDayMs = 24 * 60 * 60 * 1000;
using Arguments = std::vector<std::string>;

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

TEST(LaunchHelpers, CommandLineAndContainingDirectory) {
    // Quotes around a path with a blank, and one blank before each argument.
    const char* arguments[] = {"-port 4000 \"x\"", ""};
    EXPECT_EQ("\"/opt/my game/run\" -port 4000 \"x\"", Drux::buildCommandLine("/opt/my game/run", arguments, 1));
    EXPECT_EQ("/opt/run", Drux::buildCommandLine("/opt/run", arguments, 0));
    EXPECT_EQ("/opt/run -port 4000 \"x\" ", Drux::buildCommandLine("/opt/run", arguments, 2));

    auto containing = [](const std::string& path) {
        char output[256] = "untouched";
        return GetContainingDirectory(path.c_str(), output) ? std::string(output) : "refused:" + std::string(output);
    };
    EXPECT_EQ("C:\\games\\bin\\", containing("C:\\games\\bin\\game.exe"));
    EXPECT_EQ("C:\\games\\", containing("C:\\games\\bin\\"));
    EXPECT_EQ("C:/games/", containing("C:/games/bin\\sub\\"));  // the last forward slash decides
    EXPECT_EQ("refused:untouched", containing("/" + std::string(300, 'd') + "/game.exe"));
}

class ProcessHelper : public DruxTest::LoggedTest {
protected:
    void SetUp() override {
        LoggedTest::SetUp();
        Drux::testing::figures().processStartPauseMs = 1;
    }
    void TearDown() override {
        started.stopAll();
        if (Drux::processHelperState() != nullptr) VantrelProcessHelper_Remove();
        Drux::setRegisteredHwnd(nullptr);
        LoggedTest::TearDown();
    }
    std::string path(const std::string& relative) { return directory()->file(relative); }
    std::string install(const std::string& relative) { return ProcessTest::installStandIn(path(relative)); }
    uint32_t running(int32_t type) {
        uint32_t value = 7;
        EXPECT_EQ(1, VantrelProcessHelper_IsProcessRunning(type, &value));
        return value;
    }
    // Whether an AIR client that this test did not start runs on the machine
    // (the AIR client search is machine-wide, so the test cannot judge it then).
    bool foreignAirClientRuns() {
        Drux::ProcessId ids[4096];
        for (size_t i = 0, count = Drux::enumerateProcesses(ids, 4096); i < count; ++i) {
            char name[320];
            bool ours = false;
            for (const auto& entry : started.started) ours = ours || entry.first == ids[i];
            if (!ours && Drux::processIsRunning(ids[i]) && Drux::processExecutableName(ids[i], name, sizeof name) &&
                sameIgnoringCase(name, "KyrCLient.exe"))
                return true;
        }
        return false;
    }
    ProcessTest::StartedProcesses started;
};

TEST_F(ProcessHelper, AStartedProgramGetsItsCommandLineAndDirectoryAndIsStoppedAfterItsGrace) {
    const std::string relative = "game dir/bin/" + ProcessTest::uniqueName("game");
    const std::string game = install(relative);
    ASSERT_EQ(1, VantrelProcessHelper_Init("launcher", "air", relative.c_str()));
    std::FILE* inheritable = std::fopen("inheritable", "w");  // the program must not see it
    const char* arguments = R"(plain "two words" a\\\"b c\d a\\"b c" "")"
                            "\tx ";
    const int32_t result = VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_GAME, arguments);
    std::fclose(inheritable);
    ASSERT_EQ(1, result);
    const uint32_t id = Drux::processHelperState()->gameProcessId;
    started.add(id, game);
    const ProcessTest::Record run = ProcessTest::runsOf(game).at(0);
    EXPECT_EQ(id, run.pid());
    EXPECT_EQ(relative, run.fields.at("argv0"));
    // Split by the Windows rules: n backslashes before a quote are n/2 of them, and an odd one escapes it.
    EXPECT_EQ((Arguments{"plain", "two words", R"(a\"b)", R"(c\d)", R"(a\b c)", "", "x"}), run.args);
    EXPECT_EQ((fs::current_path() / "game dir" / "bin").lexically_normal(),
              fs::path(run.fields.at("cwd")).lexically_normal());
    // Windows starts programs with inheritance off and cannot count a process's handles.
    if (run.fields.at("fds") != "n/a") {
        EXPECT_EQ("0", run.fields.at("fds"));
    }
    EXPECT_TRUE(logHasInOrder({"INFO: New thread go!\n", "INFO: Starting Process Thread Spinning\n",
                               "INFO: StartProcess [VANTRELPROCESSTYPE_GAME] successful\n"}));
    EXPECT_EQ(0, VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_GAME, ""));
    EXPECT_TRUE(logHasInOrder({"ERROR: Process is already running.\n", "ERROR: Process Start: "}));
    EXPECT_EQ(1u, running(VANTRELPROCESSTYPE_GAME));

    auto begin = Clock::now();
    EXPECT_EQ(1, VantrelProcessHelper_StopProcess(VANTRELPROCESSTYPE_GAME, 200));
    EXPECT_GE(Clock::now() - begin, 190ms);  // the clock counts whole milliseconds
    EXPECT_TRUE(ProcessTest::endsSoon(id));
    EXPECT_EQ(0u, running(VANTRELPROCESSTYPE_GAME));
    EXPECT_FALSE(DruxTest::hasChildProcesses());

    // A program that ends by itself reads as ended and leaves no zombie; a stop waits only for its end.
    ASSERT_EQ(1, VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_GAME, "lifetime=0"));
    EXPECT_NE(id, Drux::processHelperState()->gameProcessId.load());
    EXPECT_TRUE(DruxTest::waitUntil([&] { return running(VANTRELPROCESSTYPE_GAME) == 0; }));
    EXPECT_FALSE(DruxTest::hasChildProcesses());
    fs::remove(game + ".exited");
    ASSERT_EQ(1, VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_GAME, "lifetime=300"));
    started.add(Drux::processHelperState()->gameProcessId, game);
    // A day's grace: a stop that waited out its grace would never return.
    EXPECT_EQ(1, VantrelProcessHelper_StopProcess(VANTRELPROCESSTYPE_GAME, kOneDayMs));
    EXPECT_TRUE(fs::exists(game + ".exited"));
}

TEST_F(ProcessHelper, TheAirClientIsSearchedForByNameWhateverTheLetterCase) {
    const std::string air = install(ProcessTest::uniqueName("air"));
    ASSERT_EQ(1, VantrelProcessHelper_Init("launcher", air.c_str(), "game"));
    if (foreignAirClientRuns()) GTEST_SKIP() << "another AIR client runs on this machine";
    EXPECT_EQ(0u, running(VANTRELPROCESSTYPE_GAME));
    EXPECT_FALSE(logContains("Looking for air"));  // only the AIR client is searched for
    Drux::setRegisteredHwnd(reinterpret_cast<void*>(4242));
    ASSERT_EQ(1, VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_AIR, "-- 4000"));
    const uint32_t id = Drux::processHelperState()->airProcessId;
    started.add(id, air);
    EXPECT_TRUE(
        logHasInOrder({"ERROR: Looking for air at KyrCLient.exe to fill in new proc info, but did not find it.\n",
                       "INFO: Using registered HWND: 4242 to launch the air client.\n",
                       "INFO: StartProcess [VANTRELPROCESSTYPE_AIR] successful\n"}));
    EXPECT_EQ((Arguments{"--", "4000"}), ProcessTest::runsOf(air).at(0).args);
    EXPECT_EQ(1, VantrelProcessHelper_StopProcess(VANTRELPROCESSTYPE_AIR, 0));
    EXPECT_TRUE(ProcessTest::endsSoon(id));

    // Without a known identifier running AIR clients are adopted, the later one in the list.
    SetProcessIdForProcessType(VANTRELPROCESSTYPE_AIR, 0);
    const Drux::ProcessId exact = started.launch(install("a/KyrCLient.exe"));
    const Drux::ProcessId lower = started.launch(install("b/kyrclient.EXE"));
    if (foreignAirClientRuns()) GTEST_SKIP() << "another AIR client runs on this machine";
    EXPECT_EQ(1u, running(VANTRELPROCESSTYPE_AIR));
    // The later of the two in the system's list (by identifier on Linux; Windows has its own order).
    Drux::ProcessId ids[4096], later = 0;
    for (size_t i = 0, count = Drux::enumerateProcesses(ids, 4096); i < count; ++i)
        if (ids[i] == exact || ids[i] == lower) later = ids[i];
    EXPECT_EQ(later, Drux::processHelperState()->airProcessId.load());
    for (Drux::ProcessId found : {exact, lower})
        EXPECT_TRUE(logContains(
            "INFO: I found what appears to be a new handle for KyrCLient.exe.  New: " + std::to_string(found) + "\n"));
}

TEST_F(ProcessHelper, KillAndWaitByNameTakeEveryOtherProgramOfExactlyThatNameFromAnyDirectory) {
    const std::string name = ProcessTest::uniqueName("twin");
    const Drux::ProcessId first = started.launch(install("a/" + name));
    const Drux::ProcessId second = started.launch(install("b/" + name));
    const Drux::ProcessId upper = started.launch(install("c/T" + name.substr(1)));
    // A name that matches nothing exactly: no wait (a day's wait would never
    // return), no kill, no log line.
    Drux::testing::figures().processExitWaitMs = kOneDayMs;
    const std::string logBefore = logText();
    EXPECT_EQ(0, WaitForProcessExitByName(("/x/TW" + name.substr(2)).c_str()));
    EXPECT_EQ(1, VantrelProcessHelper_KillProcessByName(path("no-such-program").c_str()));
    EXPECT_EQ(logBefore, logText());

    // The wait gives up on each program that runs on (the launcher's tests see one that ends).
    Drux::testing::figures().processExitWaitMs = 100;
    auto begin = Clock::now();
    EXPECT_EQ(0, WaitForProcessExitByName(name.c_str()));
    EXPECT_GE(Clock::now() - begin, 190ms);
    EXPECT_TRUE(Drux::processIsRunning(first) && Drux::processIsRunning(second));

    // The kill takes only our own user's programs: ours are known as ours; an
    // identifier that names no process has no user to tell.
    EXPECT_EQ(Drux::ProcessUser::Same, Drux::processUser(first).user);
    EXPECT_EQ(Drux::ProcessUser::Unknown, Drux::processUser(0).user);
    EXPECT_EQ(1, VantrelProcessHelper_KillProcessByName(("/elsewhere/" + name).c_str()));
    EXPECT_FALSE(logContains("Leaving process") || logContains("Could not check the user of process"));
    EXPECT_TRUE(ProcessTest::endsSoon(first));
    EXPECT_TRUE(ProcessTest::endsSoon(second));
    EXPECT_TRUE(Drux::processIsRunning(upper));
    // By type, the file name of the type's path counts.
    ASSERT_EQ(1, VantrelProcessHelper_Init("launcher", "air", ("C:\\other\\T" + name.substr(1)).c_str()));
    EXPECT_EQ(1, VantrelProcessHelper_KillProcess(VANTRELPROCESSTYPE_GAME));
    EXPECT_TRUE(ProcessTest::endsSoon(upper));
    // A program that kills by its own name survives (it records itself after the kill).
    const Drux::ProcessId waiting = started.launch(install("d/" + name));
    const std::string killer = install("e/" + name);
    started.launch(killer, "kill");
    EXPECT_EQ(1u, ProcessTest::runsOf(killer).size());
    EXPECT_TRUE(ProcessTest::endsSoon(waiting));
}

TEST_F(ProcessHelper, BadInputAndCallsWithoutTheRecordAreLoggedAndKeepTheRecord) {
    const char* found = "unchanged";
    uint32_t isRunning = 7;
    const int32_t refused[] = {VantrelProcessHelper_Remove(),
                               VantrelProcessHelper_GetProcessPathForProcessType(VANTRELPROCESSTYPE_AIR, &found),
                               VantrelProcessHelper_IsProcessRunning(VANTRELPROCESSTYPE_AIR, &isRunning),
                               VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_GAME, "x"),
                               VantrelProcessHelper_StopProcess(VANTRELPROCESSTYPE_GAME, 0),
                               VantrelProcessHelper_KillProcess(VANTRELPROCESSTYPE_GAME),
                               VantrelProcessHelper_AllFilesExist()};
    for (int32_t result : refused) EXPECT_EQ(0, result);
    EXPECT_EQ(nullptr, found);
    EXPECT_EQ(0u, isRunning);
    EXPECT_EQ(7u, logCount("ERROR: VantrelProcessHelper is not yet initialized.\n"));

    const std::string game = "/games/" + std::string(252, 'g');  // 259 characters, where Init cuts
    ASSERT_EQ(1, VantrelProcessHelper_Init("launcher", "air", (game + "ggg").c_str()));
    EXPECT_EQ(game, Drux::processHelperState()->path(VANTRELPROCESSTYPE_GAME).text);
    EXPECT_EQ(0, VantrelProcessHelper_Init(nullptr, "other-air", "other-game"));
    found = "unchanged";
    EXPECT_EQ(0, VantrelProcessHelper_GetProcessPathForProcessType(7, &found));
    EXPECT_EQ(nullptr, found);
    EXPECT_EQ(1, VantrelProcessHelper_IsProcessRunning(VANTRELPROCESSTYPE_LAUNCHER, &isRunning));
    EXPECT_EQ(0, VantrelProcessHelper_IsProcessRunning(VANTRELPROCESSTYPE_GAME, nullptr));
    EXPECT_EQ(1, VantrelProcessHelper_StopProcess(VANTRELPROCESSTYPE_GAME, 0));  // no identifier recorded
    EXPECT_EQ(0, VantrelProcessHelper_KillProcess(9));
    EXPECT_EQ(4u, logCount("ERROR: Unknown process type.\n"));

    // The command line (the game path, a blank, the arguments) may have 32767 characters.
    const std::string fits(32767 - game.size() - 1, 'a');
    EXPECT_EQ(0, VantrelProcessHelper_StartProcess(7, nullptr));
    EXPECT_EQ(0, VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_GAME, (fits + "a").c_str()));
    EXPECT_TRUE(logContains("ERROR: The command line for " + game +
                            " has 32768 characters, more than the 32767 allowed; it is not started.\n"));
    EXPECT_EQ(0, VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_GAME, fits.c_str()));  // no such program
    // "No such file": code 2 on both systems, with the system's own text.
    Drux::restoreLastError(Drux::SystemError{2});
    EXPECT_TRUE(logHasInOrder({"INFO: [VantrelAgent_DebugLoop] " + Drux::lastErrorText(),
                               "ERROR: Failed to start process.\n", "ERROR: Process Start: 2\n"}));
    EXPECT_EQ(0u, Drux::processHelperState()->gameProcessId.load());

    EXPECT_EQ(1, VantrelProcessHelper_KillProcessByName(nullptr));
    EXPECT_EQ(1, VantrelProcessHelper_KillProcessByName(("/x/" + std::string(300, 'n')).c_str()));
    EXPECT_EQ(1, VantrelProcessHelper_KillProcessByName(("/x/" + std::string(400, 'n')).c_str()));
    EXPECT_TRUE(logContains("ERROR: VantrelProcessHelper_KillProcessByName was given no path.\n"));
    EXPECT_EQ(1u, logCount("the file name of the path is too long to look for.\n"));
    EXPECT_EQ(0, FileExists(nullptr));
    EXPECT_STREQ("air", Drux::processHelperState()->path(VANTRELPROCESSTYPE_AIR).text);
}

TEST_F(ProcessHelper, BareFileNamesAreLookedForBesideTheHostExecutable) {
    const std::string besideHost = ProcessTest::uniqueName("beside-host");
    const std::string onlyHere = ProcessTest::uniqueName("only-here");
    const fs::path hostFile = fs::path(DruxTest::testProgramDirectory()) / besideHost;
    DruxTest::writeFile(hostFile.string(), "x");
    DruxTest::writeFile(path(onlyHere), "x");
    fs::create_directories(path("a directory"));
    EXPECT_EQ(1, FileExists(besideHost.c_str()));
    EXPECT_EQ(0, FileExists(onlyHere.c_str()));
    EXPECT_EQ(1, FileExists(("./" + onlyHere).c_str()));
    EXPECT_EQ(0, FileExists(path("a directory").c_str()));
    EXPECT_TRUE(logContains("ERROR: The file [" + path("a directory") + "] does not exist."));
    fs::remove(hostFile);

    ASSERT_EQ(1, VantrelProcessHelper_Init("no-launcher", "no-air", "no-game"));
    EXPECT_EQ(0, VantrelProcessHelper_AllFilesExist());
    EXPECT_TRUE(
        logHasInOrder({"ERROR: The file [no-launcher] does not exist.", "ERROR: The file [no-air] does not exist.",
                       "ERROR: The file [no-game] does not exist."}));
    const std::string present = path(onlyHere);
    ASSERT_EQ(1, VantrelProcessHelper_Init(present.c_str(), present.c_str(), present.c_str()));
    EXPECT_EQ(1, VantrelProcessHelper_AllFilesExist());
}

// An AIR connection switches the game path while the host reads the paths:
// every read sees one whole path, never a mix of the two.
TEST_F(ProcessHelper, AGamePathChangedOnAnotherThreadIsReadWhole) {
    const std::string first = "/games/" + std::string(200, 'a');
    const std::string second = "/other/" + std::string(120, 'b');
    ASSERT_EQ(1, VantrelProcessHelper_Init("launcher", "air", first.c_str()));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 1000; ++i) {
            SetGamePath(second.c_str());
            ResetGamePathToDefault();
        }
        done = true;
    });
    size_t reads = 0, torn = 0;
    while (!done.load() || reads < 100) {
        const char* exported = nullptr;
        ASSERT_EQ(1, VantrelProcessHelper_GetProcessPathForProcessType(VANTRELPROCESSTYPE_GAME, &exported));
        const std::string copied = Drux::processHelperState()->path(VANTRELPROCESSTYPE_GAME).text;
        for (const std::string& seen : {std::string(exported), copied}) torn += seen != first && seen != second;
        ++reads;
    }
    writer.join();
    EXPECT_EQ(0u, torn);
    EXPECT_EQ(first, Drux::processHelperState()->path(VANTRELPROCESSTYPE_GAME).text);
    // The launcher path is untouched throughout.
    EXPECT_STREQ("launcher", Drux::processHelperState()->path(VANTRELPROCESSTYPE_LAUNCHER).text);
}

#ifdef __linux__
// A copy of the stand-in run as uid 65534 (which needs root) from a folder
// that user may use; killed and reaped at the end.
class OtherUsersProgram {
public:
    explicit OtherUsersProgram(const std::string& name) {
        char pattern[] = "/tmp/drux-other-user-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) return;
        folder_ = pattern;
        ::chmod(folder_.c_str(), 0777);  // it writes its record beside itself
        path_ = ProcessTest::installStandIn(folder_ + "/" + name);
        if ((pid_ = ::fork()) == 0) {
            const uid_t nobody = DruxTest::kNobody;
            if (::syscall(SYS_setgroups, 0, nullptr) != 0 || ::syscall(SYS_setresgid, nobody, nobody, nobody) != 0 ||
                ::syscall(SYS_setresuid, nobody, nobody, nobody) != 0)
                ::_exit(1);
            ::execl(path_.c_str(), path_.c_str(), static_cast<char*>(nullptr));
            ::_exit(1);
        }
    }
    ~OtherUsersProgram() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (!folder_.empty()) fs::remove_all(folder_);
    }
    OtherUsersProgram(const OtherUsersProgram&) = delete;
    OtherUsersProgram& operator=(const OtherUsersProgram&) = delete;

    Drux::ProcessId pid() const { return static_cast<Drux::ProcessId>(pid_); }
    // Running as itself: its record is written once it runs the program.
    bool started() const { return pid_ > 0 && !ProcessTest::runsOf(path_).empty(); }

private:
    std::string folder_, path_;
    pid_t pid_ = -1;
};

TEST_F(ProcessHelper, AnotherUsersProgramOfTheSameNameSurvivesTheKillAndIsNotWaitedFor) {
    const std::string unavailable = DruxTest::otherUserUnavailable();
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    const std::string name = ProcessTest::uniqueName("same-name");
    OtherUsersProgram other(name);
    ASSERT_TRUE(other.started());
    EXPECT_EQ(Drux::ProcessUser::Other, Drux::processUser(other.pid()).user);
    EXPECT_STREQ("65534", Drux::processUser(other.pid()).detail);
    const Drux::ProcessId ours = started.launch(ProcessTest::installStandIn(directory()->file(name)));
    EXPECT_EQ(Drux::ProcessUser::Same, Drux::processUser(ours).user);

    const std::string leftAlone = "INFO: Leaving process " + std::to_string(other.pid()) + " (" + name +
                                  ") alone: it belongs to another user (65534).\n";
    EXPECT_EQ(1, VantrelProcessHelper_KillProcessByName(("/anywhere/" + name).c_str()));
    EXPECT_TRUE(ProcessTest::endsSoon(ours));
    EXPECT_TRUE(Drux::processIsRunning(other.pid()));
    EXPECT_EQ(1u, logCount(leftAlone));

    // The wait by name finds no program of ours: it passes the other user's
    // by (the line shows it looked) instead of waiting out its time.
    Drux::testing::figures().processExitWaitMs = 50;
    EXPECT_EQ(0, WaitForProcessExitByName(name.c_str()));
    EXPECT_EQ(2u, logCount(leftAlone));
    EXPECT_TRUE(Drux::processIsRunning(other.pid()));
}
#endif

}  // namespace
