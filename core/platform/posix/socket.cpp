// Sockets on POSIX: BSD sockets on 127.0.0.1. Every connection gets
// TCP_NODELAY, sends use MSG_NOSIGNAL (the host's signal dispositions are not
// ours to change), and descriptors are close-on-exec so started programs do not
// inherit them.
#include "core/platform/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "core/platform/platform.h"
#include "core/platform/fault_injection.h"

namespace Drux {
namespace {

std::atomic<int> g_startups{0};

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool setNoDelay(SocketHandle socket) {
    const int on = 1;
    return ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// Makes the call again for as long as a signal interrupts it; an interruption
// armed by a test counts as one, in place of the call.
template <typename Call>
auto retryInterrupted(Call call) -> decltype(call()) {
    for (;;) {
        const auto result = injectedFault(Fault::Interrupted) ? (errno = EINTR, decltype(call())(-1)) : call();
        if (result >= 0 || errno != EINTR) return result;
    }
}

// Pieces of at most this many bytes in all are copied together and sent as one.
constexpr size_t kJoinedSendBytes = 8 * 1024;

// One receive with the given flags: EINTR retried, EAGAIN read as WouldBlock.
IoResult receiveWith(SocketHandle socket, void* buffer, size_t length, int flags, size_t* received) {
    *received = 0;
    const ssize_t n = retryInterrupted([&] { return ::recv(socket, buffer, length, flags); });
    if (n < 0) {
        if (wouldBlock(errno)) return IoResult::WouldBlock;
        return errno == ECONNRESET ? IoResult::Reset : IoResult::Failed;
    }
    if (n == 0) return length == 0 ? IoResult::Done : IoResult::Closed;
    *received = static_cast<size_t>(n);
    return IoResult::Done;
}

}  // namespace

int lastSocketError() { return errno; }

int socketStartup() {
    g_startups.fetch_add(1);
    return 0;
}

bool socketCleanup() {
    int count = g_startups.load();
    while (count > 0) {
        if (g_startups.compare_exchange_weak(count, count - 1)) return true;
    }
    return false;
}

SocketHandle socketCreate() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return fd < 0 ? kInvalidSocket : fd;
}

bool socketBind(SocketHandle socket, uint16_t port) {
    const int on = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = loopback(port);
    return ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool socketListen(SocketHandle socket) { return ::listen(socket, SOMAXCONN) == 0; }

bool socketAccept(SocketHandle listening, SocketHandle* accepted) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (injectedFault(Fault::Accept)) {
        errno = EMFILE;
        return false;
    }
    const int fd = retryInterrupted([&] {
        length = sizeof peer;
        return ::accept4(listening, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    });
    if (fd < 0) return false;
    setNoDelay(fd);
    if (accepted != nullptr) *accepted = fd;
    return true;
}

bool socketConnect(SocketHandle socket, uint16_t port) {
    const sockaddr_in address = loopback(port);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return false;
    setNoDelay(socket);
    return true;
}

bool socketShutdown(SocketHandle socket) { return ::shutdown(socket, SHUT_RDWR) == 0; }

bool socketShutdownSending(SocketHandle socket) { return ::shutdown(socket, SHUT_WR) == 0; }

bool socketClose(SocketHandle socket) { return ::close(socket) == 0; }

bool socketCloseAccepted(SocketHandle socket, uint32_t) { return socketClose(socket); }

uint16_t socketLocalPort(SocketHandle socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

bool socketSetNonBlocking(SocketHandle socket) {
    // Every send and non-waiting receive passes MSG_DONTWAIT; the descriptor's
    // own mode stays blocking, so socketReceiveWaiting can wait on it.
    return ::fcntl(socket, F_GETFL) >= 0;
}

bool socketSetReceiveWait(SocketHandle socket, uint32_t milliseconds) {
    timeval wait{};
    wait.tv_sec = static_cast<time_t>(milliseconds / 1000);
    wait.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
    if (::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0) return false;
    const int flags = ::fcntl(socket, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK) == 0;
}

bool socketSetNoDelay(SocketHandle socket) { return setNoDelay(socket); }

IoResult sendPieces(SocketHandle socket, ByteSpan* pieces, size_t count, size_t* sent) {
    // A small message is copied into one piece: reading a vector costs the
    // kernel more than the copy does, and one piece goes through send.
    char joined[kJoinedSendBytes];
    size_t joinedLength = 0;
    for (size_t i = 0; i < count; ++i) joinedLength += pieces[i].length;
    if (count > 1 && joinedLength <= sizeof joined) {
        size_t offset = 0;
        for (size_t i = 0; i < count; ++i) {
            std::memcpy(joined + offset, pieces[i].data, pieces[i].length);
            offset += pieces[i].length;
        }
        pieces[0] = ByteSpan{joined, joinedLength};
        count = 1;
    }
    iovec vectors[kMaxSendPieces];
    for (size_t i = 0; i < count; ++i) vectors[i] = iovec{const_cast<void*>(pieces[i].data), pieces[i].length};
    msghdr message{};
    message.msg_iov = vectors;
    message.msg_iovlen = count;
    // MSG_DONTWAIT: the call never blocks, whatever the descriptor's mode.
    const ssize_t n = retryInterrupted([&] {
        return count == 1 ? ::send(socket, pieces[0].data, pieces[0].length, MSG_NOSIGNAL | MSG_DONTWAIT)
                          : ::sendmsg(socket, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    });
    if (n < 0) return wouldBlock(errno) ? IoResult::WouldBlock : IoResult::Failed;
    *sent = static_cast<size_t>(n);
    return IoResult::Done;
}

IoResult socketReceiveSome(SocketHandle socket, void* buffer, size_t length, size_t* received) {
    return receiveWith(socket, buffer, length, MSG_DONTWAIT, received);
}

IoResult socketReceiveWaiting(SocketHandle socket, void* buffer, size_t length, size_t* received) {
    // The receive time-out ends the wait with EAGAIN, read as WouldBlock.
    return receiveWith(socket, buffer, length, 0, received);
}

SocketWait waitSocket(SocketHandle socket, unsigned interest, const Interrupter& interrupter, int timeoutMs,
                      unsigned* ready) {
    *ready = 0;
    pollfd fds[2] = {};
    fds[0].fd = socket;
    fds[0].events =
        static_cast<short>(((interest & kSocketReadable) ? POLLIN : 0) | ((interest & kSocketWritable) ? POLLOUT : 0));
    fds[1].fd = interrupter.descriptor();
    fds[1].events = POLLIN;
    const int64_t deadline = timeoutMs < 0 ? 0 : monotonicMilliseconds() + timeoutMs;
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const int64_t left = deadline - monotonicMilliseconds();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        const int n = ::poll(fds, 2, wait);
        if (n < 0) {
            if (errno == EINTR) continue;
            return SocketWait::Failed;
        }
        if (n == 0) return SocketWait::TimedOut;
        if (fds[1].revents != 0) return SocketWait::Interrupted;
        const short events = fds[0].revents;
        if (events & POLLNVAL) return SocketWait::Failed;
        // A closed or failed connection wakes both kinds of waiter: the next
        // receive or send tells which it was.
        const bool broken = (events & (POLLHUP | POLLERR)) != 0;
        if ((events & POLLIN) || broken) *ready |= kSocketReadable;
        if ((events & POLLOUT) || broken) *ready |= kSocketWritable;
        return SocketWait::Ready;
    }
}

SocketHandle socketDuplicate(SocketHandle socket) {
    const int fd = ::fcntl(socket, F_DUPFD_CLOEXEC, 0);
    return fd < 0 ? kInvalidSocket : fd;
}

}  // namespace Drux
