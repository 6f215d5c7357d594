// A loopback peer in a process of its own, optionally under another user id
// (Linux only; changing the user needs root). It connects to 127.0.0.1:port,
// sends its bytes, then reads until it has the bytes it waits for, the other
// end closes the connection, or a quiet spell passes, and reports what came.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

namespace DruxTest {

// The unprivileged user the other-user tests run their peer as.
constexpr uid_t kNobody = 65534;

// Empty when this process may run a peer as another user, else why not.
inline std::string otherUserUnavailable() {
    return ::geteuid() == 0 ? std::string() : "running a peer as another user (uid 65534) needs root";
}

struct PeerReport {
    bool closedByOtherEnd = false;
    std::string received;
};

// The child reports "c" once connected (nothing if it cannot connect), then,
// when it stops reading, one byte (1: the other end closed) and what it read.
class PeerProcess {
public:
    // As `uid` (unset: as ours), sends `send` once connected and stops
    // reading once `wanted` bytes have arrived.
    PeerProcess(uint16_t port, std::optional<uid_t> uid, const std::string& send = std::string(), size_t wanted = 1) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        if ((pid_ = ::fork()) == 0) {
            ::close(fds[0]);
            runChild(fds[1], port, uid, send, wanted);
        }
        ::close(fds[1]);
        report_ = fds[0];
    }
    ~PeerProcess() {
        if (report_ >= 0) ::close(report_);
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    // Whether the peer got connected.
    bool connected() { return readReport(1) == "c"; }
    // What the peer received, once it has stopped reading; ends the process.
    std::optional<PeerReport> finish() {
        const std::string report = readReport(SIZE_MAX);  // to its end: the child has exited
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        if (report.empty()) return std::nullopt;
        return PeerReport{report[0] == 1, report.substr(1)};
    }

private:
    static constexpr size_t kKept = 4096;
    static constexpr int kQuietMs = 5000;

    // Up to `length` bytes of the report: fewer at its end or after 20 s without one.
    std::string readReport(size_t length) {
        std::string bytes;
        char buffer[kKept];
        for (pollfd ready{report_, POLLIN, 0};
             report_ >= 0 && bytes.size() < length && ::poll(&ready, 1, 20000) == 1;) {
            const ssize_t n = ::read(report_, buffer, std::min(sizeof buffer, length - bytes.size()));
            if (n <= 0) break;
            bytes.append(buffer, static_cast<size_t>(n));
        }
        return bytes;
    }

    // After fork in a threaded program: system calls only, no allocation.
    [[noreturn]] static void runChild(int report, uint16_t port, std::optional<uid_t> uid, const std::string& send,
                                      size_t wanted) {
        // The socket's owner is fixed when it is made, so the user changes first.
        if (uid && (::syscall(SYS_setgroups, 0, nullptr) != 0 || ::syscall(SYS_setresgid, *uid, *uid, *uid) != 0 ||
                    ::syscall(SYS_setresuid, *uid, *uid, *uid) != 0))
            ::_exit(1);
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (s < 0 || ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) ::_exit(1);
        if (!send.empty()) ::send(s, send.data(), send.size(), MSG_NOSIGNAL);
        if (::write(report, "c", 1) != 1) ::_exit(1);
        char kept[kKept] = {0};  // the closed flag, then what arrived
        size_t length = 1;
        for (pollfd ready{s, POLLIN, 0}; length <= wanted && length < kKept && ::poll(&ready, 1, kQuietMs) == 1;) {
            const ssize_t n = ::recv(s, kept + length, kKept - length, 0);
            if (n <= 0) {
                kept[0] = 1;
                break;
            }
            length += static_cast<size_t>(n);
        }
        ::_exit(::write(report, kept, length) == static_cast<ssize_t>(length) ? 0 : 1);
    }

    pid_t pid_ = -1;
    int report_ = -1;
};

}  // namespace DruxTest
