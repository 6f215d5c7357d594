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
#include <cstdio>
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

namespace {

// 127.0.0.1:port.
sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

bool connectLoopback(int port, VantrelSocket* socket, std::string* error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("cannot create a socket: ") + std::strerror(errno);
        return false;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const sockaddr_in address = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        *error = "cannot connect to 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    *socket = fd;
    return true;
}

namespace {

// A TCP socket bound to 127.0.0.1:port (0: any free port) with the library's
// address option; -1 with errno set on failure.
int boundSocket(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in address = loopback(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

std::vector<int> freeLoopbackPorts(int count, std::string* error) {
    std::vector<int> sockets, ports;
    for (int i = 0; i < count; ++i) {
        const int fd = boundSocket(0);
        sockaddr_in address{};
        socklen_t length = sizeof address;
        if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            *error = std::string("cannot find a free loopback port: ") + std::strerror(errno);
            if (fd >= 0) ::close(fd);
            ports.clear();
            break;
        }
        sockets.push_back(fd);
        ports.push_back(ntohs(address.sin_port));
    }
    for (int fd : sockets) ::close(fd);
    return ports;
}

std::string whyPortCannotBeBound(int port) {
    const int fd = boundSocket(port);
    if (fd >= 0) {
        const bool listens = ::listen(fd, 1) == 0;
        const int error = errno;
        ::close(fd);
        if (listens) return "";
        return std::strerror(error);
    }
    const int error = errno;
    std::string why = std::strerror(error);
    if (error == EACCES) return why + " (ports below 1024 need privileges)";
    if (error != EADDRINUSE) return why;
    why += ": another program listens there, or a connection still holds it in its closing wait";
    unsigned low = 0, high = 0;
    if (FILE* range = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "re")) {
        if (std::fscanf(range, "%u %u", &low, &high) != 2) low = high = 0;
        std::fclose(range);
    }
    if (static_cast<unsigned>(port) >= low && static_cast<unsigned>(port) <= high)
        why += "; it lies in the system's range for outgoing connections (net.ipv4.ip_local_port_range " +
               std::to_string(low) + "-" + std::to_string(high) +
               "), where any program's connection may be given it: reserve it with net.ipv4.ip_local_reserved_ports";
    return why;
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
