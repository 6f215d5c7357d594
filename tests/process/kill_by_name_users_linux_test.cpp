// The kills and waits by executable name take only processes of our own user:
// a program of the same name that another user (uid 65534) runs survives
// them. Running a program as another user needs root; skipped otherwise.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "VantrelProcessHelper.h"
#include "core/figures.h"
#include "process/process_discovery.h"
#include "process/process_test_support.h"
#include "support/peer_process.h"

namespace {

namespace fs = std::filesystem;

// A copy of the stand-in run as uid 65534 from a folder that user may use;
// killed and reaped at the end.
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

class KillByNameUsers : public DruxTest::LoggedTest {
protected:
    void TearDown() override {
        started.stopAll();
        LoggedTest::TearDown();
    }
    ProcessTest::StartedProcesses started;
};

TEST_F(KillByNameUsers, AnotherUsersProgramOfTheSameNameSurvivesTheKillAndIsNotWaitedFor) {
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

}  // namespace
