// The programs' system services on POSIX.
#include <arpa/inet.h>
#include <fcntl.h>
#include <limits.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "system.h"

namespace DruxApps {

const char kProgramSuffix[] = "";

int currentProcessId() { return static_cast<int>(::getpid()); }

std::string executablePath() {
    char path[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : "";
}

bool startSockets() { return true; }
void stopSockets() {}

bool connectLoopback(int port, VantrelSocket* socket, std::string* error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("cannot create a socket: ") + std::strerror(errno);
        return false;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        *error = "cannot connect to 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    *socket = fd;
    return true;
}


void closeSocket(VantrelSocket socket) { ::close(socket); }

void* openAppendFile(const char* path) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    return fd < 0 ? nullptr : reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
}

void appendToFile(void* file, const std::string& line) {
    // One write on an O_APPEND descriptor: lines of several processes never mix.
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(file) - 1);
    if (::write(fd, line.data(), line.size()) < 0) {
        // The file is a by-product; the caller has shown the text already.
    }
}

void closeAppendFile(void* file) { ::close(static_cast<int>(reinterpret_cast<intptr_t>(file) - 1)); }

std::tm localTime(std::time_t seconds) {
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}

int waitForStandardInput(int timeoutMs) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&input, 1, timeoutMs);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    return ready > 0 ? 1 : 0;
}

long readStandardInput(char* buffer, size_t size) {
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, size);
        if (n < 0 && errno == EINTR) continue;
        return static_cast<long>(n);
    }
}

}  // namespace DruxApps
