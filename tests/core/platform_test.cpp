#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <tuple>
#include <vector>

#include "core/figures.h"
#include "core/platform/bounded_string.h"
#include "core/platform/clock.h"
#include "core/platform/command_line.h"
#include "core/platform/mutex.h"
#include "core/platform/paths.h"
#include "core/platform/shared_mutex.h"
#include "core/platform/system_error.h"
#include "core/platform/thread.h"
#include "process/process_test_support.h"
#include "support/test_support.h"

namespace {

using DruxTest::waitUntil;

// ctest runs this program with a DRUX_FIGURES that names three figures: the
// library keeps its shipped timings, and only the test seam changes them.
TEST(Figures, AUsersEnvironmentChangesNoFigureOnlyTheTestSeamDoes) {
    const char* environment = std::getenv("DRUX_FIGURES");
    if (environment == nullptr) GTEST_SKIP() << "run through ctest, which sets DRUX_FIGURES";
    const Drux::Figures& figures = Drux::figures();
    EXPECT_EQ(25u, figures.heartbeatIntervalSeconds.load());
    EXPECT_EQ(5000u, figures.processStartPauseMs.load());
    EXPECT_EQ(500u, figures.stopGraceMs.load());
    EXPECT_TRUE(Drux::testing::setFigure("processStartPauseMs", 7));
    EXPECT_FALSE(Drux::testing::setFigure("processStartPause", 7));
    EXPECT_EQ(7u, figures.processStartPauseMs.load());
    Drux::testing::resetFigures();
    EXPECT_EQ(5000u, figures.processStartPauseMs.load());
}

struct Gate {
    std::atomic<bool> open{false};
    std::atomic<bool> left{false};  // set by the thread's last work on its way out
};

// Marks the gate as left from the thread's exit, after the body returned:
// late enough that a wait which ended with the body would not see it.
struct ExitMarker {
    Gate* gate = nullptr;
    ~ExitMarker() {
        Drux::sleepMilliseconds(20);
        if (gate != nullptr) gate->left = true;
    }
};

// Returns 7 once the gate opens.
uint32_t gatedBody(void* argument) {
    Gate& gate = *static_cast<Gate*>(argument);
    thread_local ExitMarker marker;
    marker.gate = &gate;
    while (!gate.open.load()) Drux::sleepMilliseconds(1);
    return 7;
}

TEST(Threads, WaitsEndWithTheBodyTheTimeOutOrAMovedClock) {
    Gate gate;
    boost::shared_ptr<Drux::Thread> thread = Drux::createThread(gatedBody, &gate);
    ASSERT_TRUE(thread);
    EXPECT_EQ(Drux::waitForThread(thread, 20), Drux::kWaitTimeout);

    // Long waits follow the library's clock, not the wall clock.
    Drux::Waker waker;
    std::atomic<uint32_t> threadWait{1};
    std::atomic<int> wakerWait{-1};
    // The clock's reading when each wait ended: a wait that ended before the
    // clock had moved its whole length past the start did not follow it.
    const uint32_t start = Drux::tickMilliseconds();
    std::atomic<uint32_t> threadEnded{start}, wakerEnded{start};
    std::thread waiters[] = {std::thread([&] {
                                 threadWait = Drux::waitForThread(thread, 60000);
                                 threadEnded = Drux::tickMilliseconds();
                             }),
                             std::thread([&] {
                                 wakerWait = waker.waitFor(60000);
                                 wakerEnded = Drux::tickMilliseconds();
                             })};
    // Moved again on every look: a waiter that began its wait only after an
    // earlier move (a loaded machine) measures from the moved clock.
    EXPECT_TRUE(waitUntil(
        [&] {
            Drux::testing::advanceClock(60000);
            return wakerWait.load() != -1 && threadWait.load() != 1;
        },
        std::chrono::seconds(2)));
    for (std::thread& waiter : waiters) waiter.join();
    EXPECT_EQ(threadWait.load(), Drux::kWaitTimeout);
    EXPECT_EQ(wakerWait.load(), 0);  // timed out, not notified
    EXPECT_GE(threadEnded.load() - start, 60000u);
    EXPECT_GE(wakerEnded.load() - start, 60000u);

    gate.open = true;
    EXPECT_EQ(Drux::waitForThread(thread, Drux::kWaitInfinite), Drux::kWaitObject0);
    // Ended means gone from the system: a host may unload the library now.
    EXPECT_TRUE(gate.left.load());
    uint32_t code = 0;
    EXPECT_TRUE(Drux::threadExitCode(thread, &code));
    EXPECT_EQ(code, 7u);
}

TEST(MutexDeathTest, DoubleLockAndForeignUnlockEndTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto mutex = Drux::createMutex();
    EXPECT_DEATH((mutex->lock(), mutex->lock()), "locked twice");
    EXPECT_DEATH((std::thread([&] { mutex->lock(); }).join(), mutex->unlock()), "does not hold it");
}

// Creates the marker, retrying while another program on this machine (a
// concurrently running test) holds it.
boost::shared_ptr<Drux::SharedMutex> acquireMarker() {
    boost::shared_ptr<Drux::SharedMutex> marker;
    waitUntil([&] { return (marker = Drux::createSharedMutex())->hasHandle(); }, std::chrono::milliseconds(20000));
    return marker;
}

TEST(SharedMutex, ExistsOnceMachineWideUntilItsOwnerGoes) {
    auto first = acquireMarker();
    ASSERT_TRUE(first->hasHandle());
    EXPECT_FALSE(Drux::createSharedMutex()->hasHandle());
    {
        // Another process sees it too.
        DruxTest::TempDirectory temporary;
        const std::string program = ProcessTest::installStandIn(temporary.file(ProcessTest::uniqueName("marker")));
        ProcessTest::StartedProcesses started;
        started.launch(program, "marker");
        EXPECT_EQ("0", ProcessTest::runsOf(program).at(0).fields.at("marker"));
    }
    first.reset();
    EXPECT_TRUE(acquireMarker()->hasHandle());
}

// Prints the report on one line between markers, so a death test can match it whole.
void printReport(const char* report) {
    std::string line(report);
    for (char& c : line)
        if (c == '\n') c = '#';
    fprintf(stderr, "<<%s>>\n", line.c_str());
}

TEST(BoundedStringsDeathTest, NullPointersProduceTheAssertionReport) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Drux::setAssertionHandler(printReport);
    char buffer[4];
    EXPECT_DEATH(Drux::std_strnlen(nullptr, 4),
                 "<<Assertion failed!##File: CStd/CStd#Line: 102##Function: Drux::std_strnlen##Expression: pStr>>");
    EXPECT_DEATH(Drux::std_strncpy(nullptr, 4, "x"),
                 "<<Assertion failed!##File: CStd/CStd#Line: 249##Function: Drux::std_strncpy##Expression: pDest>>");
    EXPECT_DEATH(Drux::std_strncpy(buffer, 4, nullptr),
                 "<<Assertion failed!##File: CStd/CStd#Line: 250##Function: Drux::std_strncpy##Expression: pSrc>>");
    EXPECT_DEATH(Drux::std_strcpy(buffer, nullptr), "Line: 102##Function: Drux::std_strnlen");
    Drux::setAssertionHandler(Drux::AssertionHandler());
    EXPECT_EQ(Drux::assertionReport("f", 3, "g", "e", "why"),
              "Assertion failed!\n\nFile: f\nLine: 3\n\nFunction: g\n\nExpression: e\n\nDescription: why");
}

struct Split {
    std::string drive, directory, name, extension;
    bool operator==(const Split&) const = default;
};

Split split(const char* path) {
    char d[8], dir[64], n[64], e[16];
    if (!Drux::splitPath(path, d, sizeof d, dir, sizeof dir, n, sizeof n, e, sizeof e)) return {"fail", "", "", ""};
    return {d, dir, n, e};
}

TEST(Paths, SplitMakeAndFoldByWindowsRulesOnEverySystem) {
    EXPECT_EQ(split("C:\\Games/Drux\\bin/game.client.exe"), (Split{"C:", "\\Games/Drux\\bin/", "game.client", ".exe"}));
    EXPECT_EQ(split("game.exe"), (Split{"", "", "game", ".exe"}));
    EXPECT_EQ(split("/opt/drux.d/run"), (Split{"", "/opt/drux.d/", "run", ""}));
    EXPECT_EQ(split("d:dir\\"), (Split{"d:", "dir\\", "", ""}));
    EXPECT_EQ(split("1:x"), (Split{"", "", "1:x", ""}));
    // A part that does not fit fails and leaves the outputs alone.
    char drive[8] = "keep", directory[4] = "old";
    EXPECT_FALSE(
        Drux::splitPath("C:\\long\\x", drive, sizeof drive, directory, sizeof directory, nullptr, 0, nullptr, 0));
    EXPECT_STREQ(drive, "keep");
    EXPECT_STREQ(directory, "old");

    char made[Drux::kMaxPath];
    EXPECT_TRUE(Drux::makePath(made, sizeof made, "C:", "\\Games\\Drux"));
    EXPECT_STREQ(made, "C:\\Games\\Drux\\");
    EXPECT_FALSE(Drux::makePath(made, 5, "", "/opt/drux/"));
    EXPECT_STREQ(made, "/opt");

    // Full paths fold dots without resolving links.
    DruxTest::TempDirectory temporary;
    std::error_code linkFailed;  // links need privileges on Windows; a folder shows the folding too
    std::filesystem::create_directory_symlink(std::filesystem::temp_directory_path(), temporary.file("link"),
                                              linkFailed);
    if (linkFailed) std::filesystem::create_directory(temporary.file("link"));
    ASSERT_TRUE(Drux::fullPath(made, sizeof made, "link/./a\\..\\b/"));
    const std::string separator(1, Drux::kNativePathSeparator);
    EXPECT_EQ(std::string(made),
              std::filesystem::current_path().string() + separator + "link" + separator + "b" + separator);
    ASSERT_TRUE(Drux::fullPath(made, sizeof made, "C:\\a\\..\\b"));
    EXPECT_STREQ(made, "C:\\b");
    EXPECT_FALSE(Drux::fullPath(made, sizeof made, ("/" + std::string(300, 'a')).c_str()));

    // Windows resolves the forms a user may give a game or AIR client: a
    // network share, a path relative to a drive's current directory, a path
    // that bypasses parsing, forward slashes, the root of the current drive.
    if (Drux::kNativePathSeparator == '\\') {
        const std::string here = std::filesystem::current_path().string();
        const std::string drive = here.substr(0, 2);
        for (const auto& [given, full] : std::vector<std::pair<std::string, std::string>>{
                 {"\\\\server\\share\\game\\", "\\\\server\\share\\game\\"},
                 {"\\\\server\\share\\a\\..\\game\\drux-game.exe", "\\\\server\\share\\game\\drux-game.exe"},
                 {"//server/share/game/", "\\\\server\\share\\game\\"},
                 {drive + "game\\x.exe", here + "\\game\\x.exe"},
                 {"\\\\?\\C:\\games\\x.exe", "\\\\?\\C:\\games\\x.exe"},
                 {"C:/games/./bin/../x.exe", "C:\\games\\x.exe"},
                 {"\\games\\x.exe", drive + "\\games\\x.exe"},
             }) {
            ASSERT_TRUE(Drux::fullPath(made, sizeof made, given.c_str())) << given;
            EXPECT_EQ(full, made) << given;
        }
    }

    // Joining adds a separator only where the directory lacks one, and a cut
    // result is refused (it could name another file).
    for (const auto& [directory, name, joined] : std::vector<std::tuple<const char*, const char*, std::string>>{
             {"/opt/drux", "patcher.dll", "/opt/drux" + separator + "patcher.dll"},
             {"C:\\Games\\", "a.log", "C:\\Games\\a.log"},
             {"/", "a.log", "/a.log"},
             {"", "a.log", "a.log"}}) {
        EXPECT_TRUE(Drux::joinPath(made, sizeof made, directory, name)) << directory;
        EXPECT_EQ(std::string(made), joined);
    }
    EXPECT_FALSE(Drux::joinPath(made, 8, "/opt/drux", "x"));
    EXPECT_STREQ(made, "/opt/dr");
}

// The arguments a program gets from a command line, joined with '|'.
std::string arguments(const char* line, size_t maxArguments = 16) {
    std::string storage(std::strlen(line) + 1, '\0');
    char* argv[16] = {};
    const size_t count = Drux::splitCommandLine(line, storage.data(), argv, maxArguments);
    std::string joined;
    for (size_t i = 0; i < count; ++i) joined += (i > 0 ? "|" : "") + std::string(argv[i]);
    return joined;
}

TEST(CommandLines, SplitByWindowsRulesOnEverySystem) {
    const std::pair<const char*, const char*> cases[] = {
        {"game.exe 47312\ta", "game.exe|47312|a"},  // tabs separate too
        {"\"C:\\Program Files\\game.exe\" -x", "C:\\Program Files\\game.exe|-x"},
        {"p \"two words\"  \"\"", "p|two words|"},
        {"p a\\\\\"b c\"", "p|a\\b c"},            // an even run of backslashes halves, the quote groups
        {"p a\\\"b", "p|a\"b"},                    // an odd run escapes the quote
        {"p a\\b\\\\ c", "p|a\\b\\\\|c"},          // backslashes not before a quote stay
        {"C:\\dir\\\"x y\" z", "C:\\dir\\x y|z"},  // the program name takes backslashes as they are
        {"  ", ""},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(arguments(line), std::string(expected)) << line;
    EXPECT_EQ(arguments("p a b c", 2), "p|a");
}

TEST(SystemErrors, ALastErrorSurvivesWorkThatChangesIt) {
    Drux::setLastError(Drux::LibraryFailure::InvalidArgument);
    const Drux::SystemError invalid = Drux::saveLastError();
    const std::string invalidText = Drux::lastErrorText();
    Drux::setLastError(Drux::LibraryFailure::TooLong);
    EXPECT_NE(Drux::lastErrorCode(), invalid.code);
    EXPECT_FALSE(Drux::deleteFile("no such file here"));  // the system sets its own error
    Drux::restoreLastError(invalid);
    EXPECT_EQ(Drux::lastErrorCode(), invalid.code);
    EXPECT_EQ(Drux::lastErrorText(), invalidText);
    ASSERT_FALSE(invalidText.empty());
    EXPECT_EQ(invalidText.back(), '\n');
    EXPECT_EQ(Drux::lastErrorCode(), invalid.code);  // reading the text keeps the error
}

}  // namespace
