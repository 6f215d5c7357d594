#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/test_system.h"

namespace DruxTest {

bool runningUnderWine() { return false; }

bool hasChildProcesses() {
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) != -1 || errno != ECHILD;
}

std::map<unsigned long, double> threadCpuMilliseconds() {
    std::map<unsigned long, double> times;
    const double tickMs = 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) return times;
    while (const dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream file(std::string("/proc/self/task/") + entry->d_name + "/stat");
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        // Fields after the name, which ends with the last ')': the state is the
        // third field, user and system time the 14th and 15th.
        const size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        double user = 0, system = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) user = std::atof(field.c_str());
            if (i == 15) system = std::atof(field.c_str());
        }
        times[std::strtoul(entry->d_name, nullptr, 10)] = (user + system) * tickMs;
    }
    ::closedir(tasks);
    return times;
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

bool sendSome(Drux::SocketHandle socket, const void* data, size_t length, size_t* sent) {
    *sent = 0;
    ssize_t n;
    do n = ::send(socket, data, length, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n >= 0) *sent = static_cast<size_t>(n);
    return n >= 0;
}

bool receiveSome(Drux::SocketHandle socket, void* buffer, size_t length, size_t* received) {
    *received = 0;
    ssize_t n;
    do n = ::recv(socket, buffer, length, 0);
    while (n < 0 && errno == EINTR);
    if (n >= 0) *received = static_cast<size_t>(n);
    return n >= 0;
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
