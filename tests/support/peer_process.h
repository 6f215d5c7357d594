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

#include <cstdint>
#include <cstring>
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

class PeerProcess {
public:
    // As `uid` (unset: as ours), sends `send` once connected and stops
    // reading once `wanted` bytes have arrived.
    PeerProcess(uint16_t port, std::optional<uid_t> uid, const std::string& send = std::string(), size_t wanted = 1) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            runChild(fds[1], port, uid, send, wanted);
        }
        ::close(fds[1]);
        report_ = fds[0];
        if (pid_ < 0) {
            ::close(report_);
            report_ = -1;
        }
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
    bool connected() {
        char status = 0;
        return readReport(&status, 1) && status == 'c';
    }
    // What the peer received, once it has stopped reading; ends the process.
    std::optional<PeerReport> finish() {
        PeerReport report;
        char closed = 0;
        uint64_t length = 0;
        if (!readReport(&closed, 1) || !readReport(&length, sizeof length)) return std::nullopt;
        report.closedByOtherEnd = closed == 1;
        report.received.resize(length);
        if (length > 0 && !readReport(report.received.data(), length)) return std::nullopt;
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return report;
    }

private:
    static constexpr size_t kKept = 4096;
    static constexpr int kQuietMs = 5000;

    bool readReport(void* buffer, size_t length) {
        auto* bytes = static_cast<char*>(buffer);
        while (length > 0) {
            pollfd ready{report_, POLLIN, 0};
            if (report_ < 0 || ::poll(&ready, 1, 20000) != 1) return false;
            const ssize_t n = ::read(report_, bytes, length);
            if (n <= 0) return false;
            bytes += n;
            length -= static_cast<size_t>(n);
        }
        return true;
    }

    // After fork in a threaded program: system calls only, no allocation.
    [[noreturn]] static void runChild(int report, uint16_t port, std::optional<uid_t> uid, const std::string& send,
                                      size_t wanted) {
        // The socket's owner is fixed when it is made, so the user changes first.
        if (uid && (::syscall(SYS_setgroups, 0, nullptr) != 0 || ::syscall(SYS_setresgid, *uid, *uid, *uid) != 0 ||
                    ::syscall(SYS_setresuid, *uid, *uid, *uid) != 0))
            childExit(report, 'f');
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (s < 0 || ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            childExit(report, 'f');
        if (!send.empty()) ::send(s, send.data(), send.size(), MSG_NOSIGNAL);
        char closed = 0;
        char kept[kKept];
        uint64_t length = 0;
        if (::write(report, "c", 1) != 1) ::_exit(1);
        while (length < wanted && length < kKept) {
            pollfd ready{s, POLLIN, 0};
            if (::poll(&ready, 1, kQuietMs) != 1) break;
            const ssize_t n = ::recv(s, kept + length, kKept - length, 0);
            if (n <= 0) {
                closed = 1;
                break;
            }
            length += static_cast<uint64_t>(n);
        }
        if (::write(report, &closed, 1) != 1 || ::write(report, &length, sizeof length) != sizeof length ||
            (length > 0 && ::write(report, kept, length) != static_cast<ssize_t>(length)))
            ::_exit(1);
        ::_exit(0);
    }
    [[noreturn]] static void childExit(int report, char status) {
        if (::write(report, &status, 1) != 1) ::_exit(1);
        ::_exit(1);
    }

    pid_t pid_ = -1;
    int report_ = -1;
};

}  // namespace DruxTest
