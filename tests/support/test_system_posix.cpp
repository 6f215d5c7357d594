#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "support/test_system.h"

namespace DruxTest {

bool runningUnderWine() { return false; }

bool hasChildProcesses() {
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) != -1 || errno != ECHILD;
}

bool threadBlockedInReceive(long threadId) {
    // The kernel shows the system call a task is blocked in as the first field.
    std::ifstream file("/proc/self/task/" + std::to_string(threadId) + "/syscall");
    long number = -1;
    return static_cast<bool>(file >> number) && number == SYS_recvfrom;
}

bool sendPlain(Drux::SocketHandle socket, const std::string& bytes) {
    return ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

size_t bytesWaiting(Drux::SocketHandle socket) {
    int waiting = 0;
    return ::ioctl(socket, FIONREAD, &waiting) == 0 && waiting > 0 ? static_cast<size_t>(waiting) : 0;
}

int threadStartFailureCode() { return EAGAIN; }

bool takeHandleNumber(Drux::SocketHandle from, Drux::SocketHandle number) { return ::dup2(from, number) == number; }

bool closeWithReset(Drux::SocketHandle socket) {
    const linger abort{1, 0};
    return ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort) == 0;
}

int sendAfterShutdownError() { return EPIPE; }

bool closingWaitHoldsPort() { return true; }

bool plainBindSucceeds(uint16_t port) {
    const int plain = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bound = ::bind(plain, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(plain);
    return bound;
}

}  // namespace DruxTest
