// Sockets on Windows: Winsock 2.2 on 127.0.0.1. Every connection gets
// TCP_NODELAY. Waits are select() calls that watch the socket and the
// interrupter's own socket together (see interrupter_object.h for why not
// WSAEventSelect); select never changes a socket's blocking mode.
#include "core/platform/socket.h"

#include <vector>

#include "core/platform/fault_injection.h"
#include "core/platform/platform.h"
#include "core/platform/win32/interrupter_object.h"
#include "core/platform/win32/windows_headers.h"
// After <winsock2.h> and <windows.h>, which it needs.
#include <iphlpapi.h>

namespace Drux {
namespace {

// Makes the call again for as long as it is interrupted (WSAEINTR); an
// interruption armed by a test counts as one, in place of the call. `failed`
// is the call's failure value (SOCKET_ERROR, INVALID_SOCKET).
template <typename Call, typename Result>
Result retryInterrupted(Call call, Result failed) {
    for (;;) {
        const Result result = injectedFault(Fault::Interrupted) ? (::WSASetLastError(WSAEINTR), failed) : call();
        if (result != failed || ::WSAGetLastError() != WSAEINTR) return result;
    }
}

// A send of many megabytes at once makes Winsock lock the whole buffer in
// memory, and it may refuse that for want of buffer space (WSAENOBUFS) while
// select reports the socket writable: a writer that waited for writability
// would spin. Such a send is offered again in halves, down to this size;
// below it a refusal is the system's own shortage, not the size of the send.
constexpr size_t kSmallestSend = 4 * 1024;
// How long a writer yields when even a small send finds no buffer space, so
// that its wait for writability, which select answers at once, cannot spin.
constexpr DWORD kNoBuffersPauseMs = 1;

// How often a close that waits for the peer's end looks at the connection.
constexpr DWORD kPeerEndPollMs = 2;

// The state (MIB_TCP_STATE_*) of the connection from `local` to `peer` in the
// system's TCP table; 0 when it is not listed (gone), or the table cannot be
// read. The basic table names no owners: finding those costs Wine a look at
// every process's descriptors.
DWORD connectionState(const sockaddr_in& local, const sockaddr_in& peer) {
    std::vector<unsigned char> table;
    ULONG size = 0;
    DWORD status = ERROR_INSUFFICIENT_BUFFER;
    // The table can grow between the call that sizes it and the one that fills it.
    for (int tries = 0; tries < 8 && status == ERROR_INSUFFICIENT_BUFFER; ++tries) {
        table.resize(size);
        status = ::GetExtendedTcpTable(table.empty() ? nullptr : table.data(), &size, FALSE, AF_INET,
                                       TCP_TABLE_BASIC_CONNECTIONS, 0);
    }
    const size_t header = offsetof(MIB_TCPTABLE, table);
    if (status != NO_ERROR || table.size() < header) return 0;
    const auto* rows = reinterpret_cast<const MIB_TCPTABLE*>(table.data());
    const size_t count = (table.size() - header) / sizeof(MIB_TCPROW);
    for (size_t i = 0; i < rows->dwNumEntries && i < count; ++i) {
        const MIB_TCPROW& row = rows->table[i];
        // The ports sit in the low 16 bits, in network order like sin_port.
        if (row.dwLocalAddr == local.sin_addr.s_addr && (row.dwLocalPort & 0xFFFF) == local.sin_port &&
            row.dwRemoteAddr == peer.sin_addr.s_addr && (row.dwRemotePort & 0xFFFF) == peer.sin_port)
            return row.dwState;
    }
    return 0;
}

// Whether the peer has ended its side of the connection (its end of the
// stream arrived, or the connection is gone).
bool peerHasEnded(DWORD state) {
    return state != MIB_TCP_STATE_ESTAB && state != MIB_TCP_STATE_FIN_WAIT1 && state != MIB_TCP_STATE_FIN_WAIT2 &&
           state != MIB_TCP_STATE_SYN_RCVD;
}

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

int lastSocketError() { return ::WSAGetLastError(); }

int socketStartup() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
}

bool socketCleanup() { return ::WSACleanup() == 0; }

SocketHandle socketCreate() {
    const SOCKET socket =
        ::WSASocketA(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    return socket == INVALID_SOCKET ? kInvalidSocket : socket;
}

bool socketBind(SocketHandle socket, uint16_t port) {
    // Not SO_REUSEADDR: on Windows it lets another process bind the same port
    // and take the connections meant for us. Exclusive use still allows a
    // rebind once the previous listener is closed.
    const BOOL on = TRUE;
    ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    const sockaddr_in address = loopback(port);
    return ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool socketListen(SocketHandle socket) { return ::listen(socket, SOMAXCONN) == 0; }

bool socketAccept(SocketHandle listening, SocketHandle* accepted) {
    sockaddr_in peer{};
    int length = sizeof peer;
    if (injectedFault(Fault::Accept)) {
        ::WSASetLastError(WSAEMFILE);
        return false;
    }
    const SOCKET socket = retryInterrupted(
        [&] {
            length = sizeof peer;
            return ::accept(listening, reinterpret_cast<sockaddr*>(&peer), &length);
        },
        INVALID_SOCKET);
    if (socket == INVALID_SOCKET) return false;
    socketSetNoDelay(socket);
    if (accepted != nullptr) *accepted = socket;
    return true;
}

bool socketConnect(SocketHandle socket, uint16_t port) {
    const sockaddr_in address = loopback(port);
    if (::WSAConnect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address, nullptr, nullptr, nullptr,
                     nullptr) != 0)
        return false;
    socketSetNoDelay(socket);
    return true;
}

bool socketShutdown(SocketHandle socket) {
    const bool shut = ::shutdown(socket, SD_BOTH) == 0;
    // A receive already blocked in another thread does not end with the
    // shutdown alone on Windows: cancel it, so that it returns at once.
    ::CancelIoEx(reinterpret_cast<HANDLE>(socket), nullptr);
    return shut;
}

bool socketShutdownSending(SocketHandle socket) { return ::shutdown(socket, SD_SEND) == 0; }

bool socketClose(SocketHandle socket) { return ::closesocket(socket) == 0; }

bool socketCloseAccepted(SocketHandle socket, uint32_t waitMs) {
    // The graceful close that Windows documents for exclusively bound ports:
    // our end of the stream follows our last bytes, and the connection is
    // closed once the peer has ended its side, so that nothing of it stays
    // active. A shutdown that was made before (to wake a reader) is repeated
    // harmlessly; its receiving side is why the peer's end is read from the
    // TCP table rather than from a receive.
    sockaddr_in local{}, peer{};
    int localLength = sizeof local, peerLength = sizeof peer;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &localLength) == 0 &&
        ::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0) {
        ::shutdown(socket, SD_SEND);
        const ULONGLONG deadline = ::GetTickCount64() + waitMs;
        bool ended = peerHasEnded(connectionState(local, peer));
        while (!ended && ::GetTickCount64() < deadline) {
            ::Sleep(kPeerEndPollMs);
            ended = peerHasEnded(connectionState(local, peer));
        }
        if (!ended) {
            // A peer that has not ended its side in time (it stopped reading,
            // or keeps its window closed) could hold the port for minutes:
            // the connection is reset instead of lingering.
            const LINGER abortive{1, 0};
            ::setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof abortive);
        }
    }
    return ::closesocket(socket) == 0;
}

uint16_t socketLocalPort(SocketHandle socket) {
    sockaddr_in address{};
    int length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

bool socketSetNonBlocking(SocketHandle socket) {
    u_long nonBlocking = 1;
    return ::ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
}

bool socketSetReceiveWait(SocketHandle, uint32_t) {
    // Agent handles are non-blocking here (Windows has no per-call flag), so a
    // receive on them cannot wait: the reader waits on the socket instead.
    return false;
}

bool socketSetNoDelay(SocketHandle socket) {
    const BOOL on = TRUE;
    return ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

IoResult sendPieces(SocketHandle socket, ByteSpan* pieces, size_t count, size_t* sent) {
    size_t offered = 0;
    for (size_t i = 0; i < count; ++i) offered += pieces[i].length;
    WSABUF buffers[kMaxSendPieces];
    for (;;) {
        // Each pass offers less, so the pieces are cut in place.
        count = keepFirstBytes(pieces, count, offered);
        for (size_t i = 0; i < count; ++i)
            buffers[i] =
                WSABUF{static_cast<ULONG>(pieces[i].length), static_cast<char*>(const_cast<void*>(pieces[i].data))};
        DWORD bytes = 0;
        const int result = retryInterrupted(
            [&] { return ::WSASend(socket, buffers, static_cast<DWORD>(count), &bytes, 0, nullptr, nullptr); },
            SOCKET_ERROR);
        if (result != SOCKET_ERROR) {
            *sent = bytes;
            return IoResult::Done;
        }
        const int error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK) return IoResult::WouldBlock;
        if (error != WSAENOBUFS) return IoResult::Failed;
        // No buffer space for this much: offer less at once.
        if (offered > kSmallestSend) {
            offered /= 2;
            continue;
        }
        // Not even for a little: the system is short of buffers. Report it as
        // a full send buffer, after a pause that keeps the writer from spinning.
        ::Sleep(kNoBuffersPauseMs);
        ::WSASetLastError(WSAENOBUFS);
        return IoResult::WouldBlock;
    }
}

IoResult socketReceiveSome(SocketHandle socket, void* buffer, size_t length, size_t* received) {
    *received = 0;
    const int n = retryInterrupted(
        [&] { return ::recv(socket, static_cast<char*>(buffer), static_cast<int>(length), 0); }, SOCKET_ERROR);
    if (n == SOCKET_ERROR) {
        const int error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK) return IoResult::WouldBlock;
        return error == WSAECONNRESET ? IoResult::Reset : IoResult::Failed;
    }
    if (n == 0) return length == 0 ? IoResult::Done : IoResult::Closed;
    *received = static_cast<size_t>(n);
    return IoResult::Done;
}

IoResult socketReceiveWaiting(SocketHandle socket, void* buffer, size_t length, size_t* received) {
    // Never used on a handle that cannot wait (see socketSetReceiveWait).
    return socketReceiveSome(socket, buffer, length, received);
}

SocketWait waitSocket(SocketHandle socket, unsigned interest, const Interrupter& interrupter, int timeoutMs,
                      unsigned* ready) {
    const SOCKET wake = interrupterSocket(interrupter);
    if (wake == INVALID_SOCKET) return SocketWait::Failed;
    const ULONGLONG deadline = ::GetTickCount64() + (timeoutMs < 0 ? 0 : static_cast<ULONGLONG>(timeoutMs));
    for (;;) {
        fd_set readable, writable, failed;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(wake, &readable);
        if (interest & kSocketReadable) FD_SET(socket, &readable);
        if (interest & kSocketWritable) FD_SET(socket, &writable);
        FD_SET(socket, &failed);  // a failed connect shows only here
        timeval limit{};
        if (timeoutMs >= 0) {
            const ULONGLONG now = ::GetTickCount64();
            const ULONGLONG left = now >= deadline ? 0 : deadline - now;
            limit.tv_sec = static_cast<long>(left / 1000);
            limit.tv_usec = static_cast<long>(left % 1000) * 1000;
        }
        const int count = ::select(0, &readable, &writable, &failed, timeoutMs < 0 ? nullptr : &limit);
        if (count == SOCKET_ERROR) return SocketWait::Failed;
        if (FD_ISSET(wake, &readable)) return SocketWait::Interrupted;
        // A closed or failed connection counts as readable, whatever was asked.
        unsigned bits = 0;
        if (FD_ISSET(socket, &readable) || FD_ISSET(socket, &failed)) bits |= kSocketReadable;
        if (FD_ISSET(socket, &writable)) bits |= kSocketWritable;
        if (bits != 0) {
            if (ready != nullptr) *ready = bits;
            return SocketWait::Ready;
        }
        if (timeoutMs >= 0 && ::GetTickCount64() >= deadline) return SocketWait::TimedOut;
    }
}

SocketHandle socketDuplicate(SocketHandle socket) {
    WSAPROTOCOL_INFOA information;
    if (::WSADuplicateSocketA(socket, ::GetCurrentProcessId(), &information) != 0) return kInvalidSocket;
    const SOCKET copy = ::WSASocketA(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &information, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    return copy == INVALID_SOCKET ? kInvalidSocket : copy;
}

}  // namespace Drux
