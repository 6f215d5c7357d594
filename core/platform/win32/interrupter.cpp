// The interrupter on Windows: a manual-reset event plus, once a socket wait
// needs it, a loopback datagram socket that is readable while signalled.
#include "core/platform/interrupter.h"

#include "core/platform/win32/interrupter_object.h"

namespace Drux {
namespace {

void drain(SOCKET socket) {
    char bytes[64];
    while (::recv(socket, bytes, sizeof bytes, 0) > 0) {
    }
}

SOCKET makeWakeSocket() {
    // Our own reference to Windows Sockets, held for the socket's life; the
    // caller's sockets prove that it is started already.
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return INVALID_SOCKET;
    SOCKET socket = ::WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    u_long nonBlocking = 1;
    if (socket != INVALID_SOCKET && ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
        ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::ioctlsocket(socket, FIONBIO, &nonBlocking) == 0)
        return socket;
    const int error = ::WSAGetLastError();
    if (socket != INVALID_SOCKET) ::closesocket(socket);
    ::WSACleanup();
    ::WSASetLastError(error);
    return INVALID_SOCKET;
}

}  // namespace

Interrupter::Interrupter() {
    InterrupterObject* object = new InterrupterObject;
    object->event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    handle_ = object;
}

Interrupter::~Interrupter() {
    InterrupterObject* object = &interrupterObject(*this);
    if (object->wakeSocket != INVALID_SOCKET) {
        ::closesocket(object->wakeSocket);
        ::WSACleanup();
    }
    if (object->event != nullptr) ::CloseHandle(object->event);
    delete object;
}

void Interrupter::signal() {
    InterrupterObject& object = interrupterObject(*this);
    std::lock_guard<StateLock> guard(object.lock);
    object.signalled = true;
    ::SetEvent(object.event);
    // One datagram is enough: the socket stays readable until a reset.
    if (object.wakeSocket != INVALID_SOCKET) ::send(object.wakeSocket, "!", 1, 0);
}

void Interrupter::reset() {
    InterrupterObject& object = interrupterObject(*this);
    std::lock_guard<StateLock> guard(object.lock);
    object.signalled = false;
    ::ResetEvent(object.event);
    if (object.wakeSocket != INVALID_SOCKET) drain(object.wakeSocket);
}

SOCKET interrupterSocket(const Interrupter& interrupter) {
    InterrupterObject& object = interrupterObject(interrupter);
    std::lock_guard<StateLock> guard(object.lock);
    if (object.wakeSocket == INVALID_SOCKET) {
        object.wakeSocket = makeWakeSocket();
        if (object.wakeSocket != INVALID_SOCKET && object.signalled) ::send(object.wakeSocket, "!", 1, 0);
    }
    return object.wakeSocket;
}

}  // namespace Drux
