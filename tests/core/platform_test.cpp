#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <boost/weak_ptr.hpp>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "core/platform/bounded_string.h"
#include "core/platform/clock.h"
#include "core/platform/mutex.h"
#include "core/platform/paths.h"
#include "core/platform/shared_mutex.h"
#include "core/platform/thread.h"
#include "support/test_support.h"

namespace {

using DruxTest::waitUntil;

// A thread body that returns 7 once released.
struct Gate {
    std::atomic<bool> open{false};
    boost::shared_ptr<Drux::Thread> self;  // for the self-wait check
    std::atomic<uint32_t> selfWait{0};
};

uint32_t gatedBody(void* argument) {
    Gate* gate = static_cast<Gate*>(argument);
    while (!gate->open.load()) Drux::sleepMilliseconds(1);
    if (gate->self) gate->selfWait = Drux::waitForThread(gate->self, Drux::kWaitInfinite);
    return 7;
}

TEST(Threads, ExitCodeAndRecordOutliveTheBodyOnlyAsLongAsNeeded) {
    Gate gate;
    boost::shared_ptr<Drux::Thread> thread = Drux::createThread(gatedBody, &gate);
    ASSERT_TRUE(thread);
    boost::weak_ptr<Drux::Thread> watch = thread;
    uint32_t code = 0;
    EXPECT_FALSE(Drux::threadExitCode(thread, &code));
    EXPECT_FALSE(Drux::isCurrentThread(thread));
    thread.reset();
    // The running thread still holds its record.
    EXPECT_FALSE(watch.expired());
    gate.open = true;
    EXPECT_TRUE(waitUntil([&] { return watch.expired(); }));
}

TEST(Threads, WaitEndsWithTheBodyOrTheTimeOut) {
    Gate gate;
    auto thread = Drux::createThread(gatedBody, &gate);
    ASSERT_TRUE(thread);
    gate.self = thread;
    EXPECT_EQ(Drux::waitForThread(thread, 20), Drux::kWaitTimeout);

    // A long wait follows the library's clock, not the wall clock.
    std::atomic<uint32_t> result{1};
    std::thread waiter([&] { result = Drux::waitForThread(thread, 60000); });
    Drux::sleepMilliseconds(20);
    Drux::testing::advanceClock(60000);
    waiter.join();
    EXPECT_EQ(result.load(), Drux::kWaitTimeout);

    gate.open = true;
    EXPECT_EQ(Drux::waitForThread(thread, Drux::kWaitInfinite), Drux::kWaitObject0);
    uint32_t code = 0;
    EXPECT_TRUE(Drux::threadExitCode(thread, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(gate.selfWait.load(), Drux::kWaitTimeout);  // a thread cannot wait for itself
    EXPECT_EQ(Drux::threadTerminate(thread), 0);
    gate.self.reset();
}

TEST(Clock, MovingTheClockWakesATimedWait) {
    Drux::Waker waker;
    std::atomic<bool> done{false};
    std::atomic<bool> notified{true};
    std::thread sleeper([&] {
        notified = waker.waitFor(60000);
        done = true;
    });
    Drux::sleepMilliseconds(20);
    EXPECT_FALSE(done.load());
    Drux::testing::advanceClock(60000);
    EXPECT_TRUE(waitUntil([&] { return done.load(); }, std::chrono::milliseconds(2000)));
    sleeper.join();
    EXPECT_FALSE(notified.load());
}

TEST(Mutex, SecondThreadBlocksUntilTheOwnerUnlocks) {
    auto mutex = Drux::createMutex();
    std::atomic<bool> entered{false};
    std::thread other;
    {
        Drux::ScopedLock lock(mutex);
        other = std::thread([&] {
            Drux::ScopedLock inner(mutex);
            entered = true;
        });
        Drux::sleepMilliseconds(50);
        EXPECT_FALSE(entered.load());
    }
    other.join();
    EXPECT_TRUE(entered.load());
}

TEST(MutexDeathTest, DoubleLockAndForeignUnlockEndTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto mutex = Drux::createMutex();
            mutex->lock();
            mutex->lock();
        },
        "locked twice");
    EXPECT_DEATH(
        {
            auto mutex = Drux::createMutex();
            std::thread([&] { mutex->lock(); }).join();
            mutex->unlock();
        },
        "does not hold it");
}

// Creates the marker, retrying while another program on this machine (a
// concurrently running test) holds it.
boost::shared_ptr<Drux::SharedMutex> acquireMarker() {
    boost::shared_ptr<Drux::SharedMutex> marker;
    waitUntil([&] {
        marker = Drux::createSharedMutex();
        return marker->hasHandle();
    }, std::chrono::milliseconds(20000));
    return marker;
}

TEST(SharedMutex, ExistsOnceMachineWideUntilItsOwnerGoes) {
    auto first = acquireMarker();
    ASSERT_TRUE(first->hasHandle());
    EXPECT_FALSE(Drux::createSharedMutex()->hasHandle());

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Another process sees the marker too (the inherited descriptor is ours, not its own).
        Drux::SharedMutex mine;
        _exit(mine.hasHandle() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    first.reset();
    EXPECT_TRUE(acquireMarker()->hasHandle());
}

TEST(BoundedStrings, CopiesAreCutAndAlwaysTerminated) {
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(Drux::std_strncpy(buffer, 4, "abcdef"), buffer);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(buffer[4], '#');
    EXPECT_EQ(Drux::std_strnlen("abcdef", 3), 3u);
    EXPECT_EQ(Drux::std_strnlen("ab", 300), 2u);

    char path[Drux::kMaxPath];
    EXPECT_STREQ(Drux::std_strcpy(path, "C:\\x"), "C:\\x");

    char small[6];
    EXPECT_EQ(Drux::boundedPrintf(small, sizeof small, "%d-%s", 12, "xyz"), 5);
    EXPECT_STREQ(small, "12-xy");
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

TEST(Paths, SplitByWindowsRulesOnEverySystem) {
    EXPECT_EQ(split("C:\\Games/Drux\\bin/game.client.exe"), (Split{"C:", "\\Games/Drux\\bin/", "game.client", ".exe"}));
    EXPECT_EQ(split("game.exe"), (Split{"", "", "game", ".exe"}));
    EXPECT_EQ(split("/opt/drux.d/run"), (Split{"", "/opt/drux.d/", "run", ""}));
    EXPECT_EQ(split("d:dir\\"), (Split{"d:", "dir\\", "", ""}));
    EXPECT_EQ(split("1:x"), (Split{"", "", "1:x", ""}));
    // A part that does not fit fails and leaves the outputs alone.
    char drive[8] = "keep", directory[4] = "old";
    EXPECT_FALSE(Drux::splitPath("C:\\long\\x", drive, sizeof drive, directory, sizeof directory, nullptr, 0, nullptr, 0));
    EXPECT_STREQ(drive, "keep");
    EXPECT_STREQ(directory, "old");
    EXPECT_TRUE(Drux::splitPath("C:\\x", nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0));

    char made[32];
    EXPECT_TRUE(Drux::makePath(made, sizeof made, "C:", "\\Games\\Drux"));
    EXPECT_STREQ(made, "C:\\Games\\Drux\\");
    EXPECT_TRUE(Drux::makePath(made, sizeof made, "", "/opt/drux/"));
    EXPECT_STREQ(made, "/opt/drux/");
    EXPECT_FALSE(Drux::makePath(made, 5, "", "/opt/drux/"));
    EXPECT_STREQ(made, "/opt");
}

TEST(Paths, FullPathFoldsDotsWithoutResolvingLinks) {
    DruxTest::TempDirectory directory;
    std::filesystem::create_directory_symlink("/tmp", directory.file("link"));
    char current[Drux::kMaxPath];
    ASSERT_TRUE(Drux::currentDirectory(current, sizeof current));
    char full[Drux::kMaxPath];
    ASSERT_TRUE(Drux::fullPath(full, sizeof full, "link/./a\\..\\b/"));
    EXPECT_EQ(std::string(full), std::string(current) + "/link/b/");
    ASSERT_TRUE(Drux::fullPath(full, sizeof full, "/x/../../y"));
    EXPECT_STREQ(full, "/y");
    ASSERT_TRUE(Drux::fullPath(full, sizeof full, "C:\\a\\..\\b"));
    EXPECT_STREQ(full, "C:\\b");
    EXPECT_FALSE(Drux::fullPath(full, sizeof full, ("/" + std::string(300, 'a')).c_str()));
}

TEST(Paths, FilesAndDirectories) {
    DruxTest::TempDirectory directory;
    DruxTest::writeFile(directory.file("file"), "x");
    EXPECT_EQ(Drux::fileAttributes(directory.path().c_str()), Drux::kDirectoryAttribute);
    EXPECT_TRUE(Drux::isNotDirectory(Drux::fileAttributes("file")));
    EXPECT_EQ(Drux::fileAttributes("missing"), Drux::kInvalidFileAttributes);
    EXPECT_FALSE(Drux::isNotDirectory(Drux::kInvalidFileAttributes));
    EXPECT_TRUE(Drux::deleteFile("file"));
    EXPECT_FALSE(Drux::deleteFile("file"));

    char host[Drux::kMaxPath];
    ASSERT_TRUE(Drux::hostExecutablePath(host, sizeof host));
    EXPECT_EQ(std::filesystem::path(host).parent_path().string(), DruxTest::testProgramDirectory());
    EXPECT_FALSE(Drux::hostExecutablePath(host, 3));
}

}  // namespace
