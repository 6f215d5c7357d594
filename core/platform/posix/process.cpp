// Processes on POSIX. A program is started through an intermediate child that
// exits at once (and is reaped by its exact id), so the program itself is
// adopted by the system and never stays behind as our zombie. Processes are
// "opened" by signalling them with signal 0, tested through /proc/<pid>/stat,
// waited for through a pidfd and terminated with SIGKILL.
#include "core/platform/process.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "core/platform/command_line.h"
#include "core/platform/platform.h"

extern char** environ;

namespace Drux {
namespace {

#ifndef CLOSE_RANGE_CLOEXEC
constexpr unsigned kCloseRangeCloexec = 1u << 2;
#else
constexpr unsigned kCloseRangeCloexec = CLOSE_RANGE_CLOEXEC;
#endif

bool validProcessId(ProcessId processId) {
    return processId != 0 && processId <= static_cast<ProcessId>(std::numeric_limits<pid_t>::max());
}

// The state letter of /proc/<pid>/stat (the field after the parenthesised
// command name), or 0 when it cannot be read.
char processStateLetter(ProcessId processId) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/stat", processId);
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char buffer[512];
    ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0) return 0;
    buffer[n] = '\0';
    const char* close = std::strrchr(buffer, ')');
    if (close == nullptr || close[1] != ' ') return 0;
    return close[2];
}

// What the children of a launch tell the caller through the pipe.
struct LaunchReport {
    int32_t kind;  // kStarted: value is the program's id; kFailed: value is errno
    int32_t value;
};
constexpr int32_t kStarted = 1;
constexpr int32_t kFailed = 2;

void sendReport(int fd, int32_t kind, int32_t value) {
    LaunchReport report{kind, value};
    ssize_t ignored = ::write(fd, &report, sizeof report);
    (void)ignored;
}

// Moves a descriptor above the standard three, keeping it close-on-exec.
int aboveStandardDescriptors(int fd) {
    if (fd > 2) return fd;
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    int saved = errno;
    ::close(fd);
    errno = saved;
    return moved;
}

// Everything the new program's process does between fork and exec. Only
// async-signal-safe calls: the caller may have other threads.
[[noreturn]] void runProgram(const char* program, char* const* argv, const char* workingDirectory, int reportFd,
                             int highestDescriptor) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s = 1; s < NSIG; ++s) {
        if (s == SIGKILL || s == SIGSTOP) continue;
        struct sigaction current {};
        if (sigaction(s, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
            struct sigaction byDefault {};
            byDefault.sa_handler = SIG_DFL;
            sigaction(s, &byDefault, nullptr);
        }
    }
    ::setsid();

    int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        ::dup2(devNull, 0);
        ::dup2(devNull, 1);
        ::dup2(devNull, 2);
        if (devNull > 2) ::close(devNull);
    }
    // Nothing of ours is inherited: every other descriptor closes on exec.
    if (::syscall(SYS_close_range, 3u, ~0u, kCloseRangeCloexec) != 0) {
        for (int fd = 3; fd <= highestDescriptor; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }

    if (workingDirectory != nullptr && ::chdir(workingDirectory) != 0) {
        sendReport(reportFd, kFailed, errno);
        ::_exit(127);
    }
    ::execve(program, argv, environ);
    sendReport(reportFd, kFailed, errno);
    ::_exit(127);
}

}  // namespace

ProcessId currentProcessId() { return static_cast<ProcessId>(::getpid()); }

bool launchProcess(const char* applicationName, const char* commandLine, const char* workingDirectory,
                   ProcessId* processId) {
    if (applicationName == nullptr || applicationName[0] == '\0') {
        errno = ENOENT;
        return false;
    }
    // The argument vector, prepared before forking: the children may not allocate.
    const std::string line = commandLine != nullptr ? commandLine : applicationName;
    std::vector<char> storage(line.size() + 1);
    std::vector<char*> argv(line.size() + 3, nullptr);
    const size_t argc = splitCommandLine(line.c_str(), storage.data(), argv.data(), argv.size() - 1);
    argv[argc] = nullptr;

    // A relative program name is taken against our current directory, not the
    // new program's working directory; it is never searched on PATH.
    std::string program = applicationName;
    if (program[0] != '/') {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) == nullptr) return false;
        program = std::string(cwd) + "/" + program;
    }

    rlimit limit{};
    int highestDescriptor = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        highestDescriptor = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536));

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    pipeFds[0] = aboveStandardDescriptors(pipeFds[0]);
    pipeFds[1] = aboveStandardDescriptors(pipeFds[1]);
    if (pipeFds[0] < 0 || pipeFds[1] < 0) {
        int saved = errno;
        if (pipeFds[0] >= 0) ::close(pipeFds[0]);
        if (pipeFds[1] >= 0) ::close(pipeFds[1]);
        errno = saved;
        return false;
    }

    const pid_t middle = ::fork();
    if (middle < 0) {
        int saved = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        errno = saved;
        return false;
    }
    if (middle == 0) {
        ::close(pipeFds[0]);
        const pid_t programId = ::fork();
        if (programId < 0) {
            sendReport(pipeFds[1], kFailed, errno);
            ::_exit(127);
        }
        if (programId > 0) {
            sendReport(pipeFds[1], kStarted, programId);
            ::_exit(0);
        }
        runProgram(program.c_str(), argv.data(), workingDirectory, pipeFds[1], highestDescriptor);
    }

    ::close(pipeFds[1]);
    // The pipe reaches end of file once the intermediate child has exited and
    // the program has been executed (or has failed and exited).
    pid_t started = 0;
    int failure = 0;
    for (;;) {
        LaunchReport report{};
        ssize_t n = ::read(pipeFds[0], &report, sizeof report);
        if (n < 0 && errno == EINTR) continue;
        if (n != static_cast<ssize_t>(sizeof report)) break;
        if (report.kind == kStarted) started = report.value;
        if (report.kind == kFailed) failure = report.value;
    }
    ::close(pipeFds[0]);

    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }

    if (failure != 0 || started <= 0) {
        errno = failure != 0 ? failure : ECHILD;
        return false;
    }
    if (processId != nullptr) *processId = static_cast<ProcessId>(started);
    return true;
}

bool processCanBeOpened(ProcessId processId) {
    if (!validProcessId(processId)) return false;
    return ::kill(static_cast<pid_t>(processId), 0) == 0;
}

bool processIsRunning(ProcessId processId) {
    if (!processCanBeOpened(processId)) return false;
    const char state = processStateLetter(processId);
    return state != 'Z' && state != 'X';
}

namespace {

// Waits for the process to end, for the time-out, or for wakeDescriptor (-1:
// none) to become readable. True when the process has ended or cannot be
// waited on; an end and a wake-up seen together count as the end.
bool waitForExit(ProcessId processId, uint32_t timeoutMs, int wakeDescriptor) {
    if (!validProcessId(processId)) return true;
    const bool forever = timeoutMs == 0xFFFFFFFFu;
    const int64_t deadline = monotonicMilliseconds() + timeoutMs;

    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(processId), 0));
    if (pidfd >= 0) {
        // poll ignores the second entry when there is no wake descriptor.
        pollfd entries[2] = {{pidfd, POLLIN, 0}, {wakeDescriptor, POLLIN, 0}};
        bool ended = true;
        for (;;) {
            int timeout = -1;
            if (!forever) {
                int64_t remaining = deadline - monotonicMilliseconds();
                if (remaining < 0) remaining = 0;
                timeout = remaining > INT_MAX ? INT_MAX : static_cast<int>(remaining);
            }
            const int result = ::poll(entries, 2, timeout);
            if (result < 0 && errno == EINTR) continue;
            if (result < 0 || entries[0].revents != 0) break;  // ended, or cannot be waited on
            if (entries[1].revents != 0 || (!forever && monotonicMilliseconds() >= deadline)) {
                ended = false;
                break;
            }
        }
        ::close(pidfd);
        return ended;
    }
    if (errno == ESRCH) return true;

    // No pidfds on this system: look at the process every few milliseconds.
    for (;;) {
        if (!processIsRunning(processId)) return true;
        if (!forever && monotonicMilliseconds() >= deadline) return false;
        pollfd wake{wakeDescriptor, POLLIN, 0};
        if (::poll(&wake, 1, 5) > 0) return false;
    }
}

}  // namespace

bool waitForProcessExit(ProcessId processId, uint32_t timeoutMs) { return waitForExit(processId, timeoutMs, -1); }

bool waitForProcessExit(ProcessId processId, uint32_t timeoutMs, const Interrupter& interrupter) {
    return waitForExit(processId, timeoutMs, interrupter.descriptor());
}

bool terminateProcess(ProcessId processId) {
    if (!validProcessId(processId)) {
        errno = ESRCH;
        return false;
    }
    return ::kill(static_cast<pid_t>(processId), SIGKILL) == 0;
}

size_t enumerateProcesses(ProcessId* ids, size_t capacity) {
    if (ids == nullptr || capacity == 0) return 0;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return 0;
    size_t count = 0;
    while (count < capacity) {
        const dirent* entry = ::readdir(proc);
        if (entry == nullptr) break;
        const char* name = entry->d_name;
        if (name[0] < '1' || name[0] > '9') continue;
        unsigned long value = 0;
        bool numeric = true;
        for (const char* c = name; *c != '\0'; ++c) {
            if (*c < '0' || *c > '9' || value > 0xFFFFFFFFul / 10) {
                numeric = false;
                break;
            }
            value = value * 10 + static_cast<unsigned long>(*c - '0');
        }
        if (numeric && value <= 0xFFFFFFFFul) ids[count++] = static_cast<ProcessId>(value);
    }
    ::closedir(proc);
    return count;
}

bool processExecutableName(ProcessId processId, char* name, size_t nameSize) {
    if (!validProcessId(processId) || name == nullptr || nameSize == 0) return false;
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%u/exe", processId);
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n <= 0) return false;
    target[n] = '\0';
    // An executable replaced on disk is still the same program.
    static const char kDeleted[] = " (deleted)";
    const size_t deletedLength = sizeof kDeleted - 1;
    size_t length = static_cast<size_t>(n);
    if (length > deletedLength && std::strcmp(target + length - deletedLength, kDeleted) == 0) {
        length -= deletedLength;
        target[length] = '\0';
    }
    const char* slash = std::strrchr(target, '/');
    const char* base = slash != nullptr ? slash + 1 : target;
    std::snprintf(name, nameSize, "%s", base);
    return true;
}

ProcessUserResult processUser(ProcessId processId) {
    ProcessUserResult result;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/status", processId);
    FILE* status = validProcessId(processId) ? std::fopen(path, "re") : nullptr;
    if (status == nullptr) {
        std::snprintf(result.detail, sizeof result.detail, "its status cannot be read");
        return result;
    }
    // "Uid:\treal\teffective\tsaved\tfilesystem"
    unsigned real = 0, effective = 0;
    bool found = false;
    char line[256];
    while (!found && std::fgets(line, sizeof line, status) != nullptr)
        found = std::sscanf(line, "Uid: %u %u", &real, &effective) == 2;
    std::fclose(status);
    if (!found) {
        std::snprintf(result.detail, sizeof result.detail, "its status names no user");
        return result;
    }
    result.user = effective == ::geteuid() ? ProcessUser::Same : ProcessUser::Other;
    std::snprintf(result.detail, sizeof result.detail, "%u", effective);
    return result;
}

}  // namespace Drux
