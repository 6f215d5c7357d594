#include <winsock2.h>
#include <windows.h>
// After <windows.h>, which it needs.
#include <tlhelp32.h>

#include "support/test_system.h"

namespace DruxTest {

bool runningUnderWine() {
    // Wine's ntdll exports its version; Windows' does not.
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool hasChildProcesses() {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    const DWORD self = ::GetCurrentProcessId();
    bool found = false;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot, &entry); more && !found; more = ::Process32Next(snapshot, &entry))
        found = entry.th32ParentProcessID == self;
    ::CloseHandle(snapshot);
    return found;
}

std::map<unsigned long, double> threadCpuMilliseconds() {
    std::map<unsigned long, double> times;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return times;
    const DWORD self = ::GetCurrentProcessId();
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != self) continue;
        const HANDLE thread = ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
        if (thread == nullptr) continue;
        FILETIME created, exited, kernel, user;
        if (::GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
            auto ms = [](const FILETIME& t) {  // 100-nanosecond units
                return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                           t.dwLowDateTime) /
                       10000.0;
            };
            times[entry.th32ThreadID] = ms(kernel) + ms(user);
        }
        ::CloseHandle(thread);
    }
    ::CloseHandle(snapshot);
    return times;
}

bool threadBlockedInReceive(long) { return true; }

bool sendPlain(Drux::SocketHandle socket, const std::string& bytes) {
    return ::send(socket, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
}

bool sendSome(Drux::SocketHandle socket, const void* data, size_t length, size_t* sent) {
    *sent = 0;
    const int n = ::send(socket, static_cast<const char*>(data), static_cast<int>(length), 0);
    if (n != SOCKET_ERROR) *sent = static_cast<size_t>(n);
    return n != SOCKET_ERROR;
}

bool receiveSome(Drux::SocketHandle socket, void* buffer, size_t length, size_t* received) {
    *received = 0;
    const int n = ::recv(socket, static_cast<char*>(buffer), static_cast<int>(length), 0);
    if (n != SOCKET_ERROR) *received = static_cast<size_t>(n);
    return n != SOCKET_ERROR;
}

size_t bytesWaiting(Drux::SocketHandle socket) {
    u_long waiting = 0;
    return ::ioctlsocket(socket, FIONREAD, &waiting) == 0 ? static_cast<size_t>(waiting) : 0;
}

int threadStartFailureCode() { return ERROR_NOT_ENOUGH_MEMORY; }

bool takeHandleNumber(Drux::SocketHandle, Drux::SocketHandle) { return false; }

bool closeWithReset(Drux::SocketHandle socket) {
    const linger abort{1, 0};
    return ::setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort) == 0;
}

int sendAfterShutdownError() { return WSAESHUTDOWN; }

bool closingWaitHoldsPort() { return false; }

bool plainBindSucceeds(uint16_t port) {
    const SOCKET plain = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bound = ::bind(plain, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::closesocket(plain);
    return bound;
}

}  // namespace DruxTest
