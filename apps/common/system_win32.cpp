// The programs' system services on Windows.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "system.h"

namespace DruxApps {
namespace {

std::string errorText(int code) {
    char* text = nullptr;
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
    if (text != nullptr) ::LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
    return result;
}

}  // namespace

const char kProgramSuffix[] = ".exe";

int currentProcessId() { return static_cast<int>(::GetCurrentProcessId()); }

std::string executablePath() {
    char path[MAX_PATH * 4] = {};
    const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : "";
}

bool startSockets() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void stopSockets() { ::WSACleanup(); }

namespace {

// 127.0.0.1:port.
sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

bool connectLoopback(int port, VantrelSocket* socket, std::string* error) {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        *error = "cannot create a socket: " + errorText(::WSAGetLastError());
        return false;
    }
    const BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    const sockaddr_in address = loopback(port);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        *error = "cannot connect to 127.0.0.1:" + std::to_string(port) + ": " + errorText(::WSAGetLastError());
        ::closesocket(s);
        return false;
    }
    *socket = s;
    return true;
}

namespace {

// A TCP socket bound to 127.0.0.1:port (0: any free port) for exclusive use,
// as the library binds its ports; INVALID_SOCKET with the error kept on failure.
SOCKET boundSocket(int port) {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    BOOL one = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
    const sockaddr_in address = loopback(port);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = ::WSAGetLastError();
        ::closesocket(s);
        ::WSASetLastError(error);
        return INVALID_SOCKET;
    }
    return s;
}

}  // namespace

std::vector<int> freeLoopbackPorts(int count, std::string* error) {
    std::vector<SOCKET> sockets;
    std::vector<int> ports;
    for (int i = 0; i < count; ++i) {
        const SOCKET s = boundSocket(0);
        sockaddr_in address{};
        int length = sizeof address;
        if (s == INVALID_SOCKET || ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            *error = "cannot find a free loopback port: " + errorText(::WSAGetLastError());
            if (s != INVALID_SOCKET) ::closesocket(s);
            ports.clear();
            break;
        }
        sockets.push_back(s);
        ports.push_back(ntohs(address.sin_port));
    }
    for (SOCKET s : sockets) ::closesocket(s);
    return ports;
}

std::string whyPortCannotBeBound(int port) {
    const SOCKET s = boundSocket(port);
    int error = ::WSAGetLastError();
    if (s != INVALID_SOCKET) {
        const bool listens = ::listen(s, 1) == 0;
        error = ::WSAGetLastError();
        ::closesocket(s);
        if (listens) return "";
    }
    std::string why = errorText(error);
    if (error == WSAEADDRINUSE) return why + " (another program listens there)";
    if (error == WSAEACCES)
        return why +
               " (the system reserves the port for a service such as Hyper-V or WSL: see "
               "netsh int ipv4 show excludedportrange protocol=tcp)";
    return why;
}

void closeSocket(VantrelSocket socket) { ::closesocket(socket); }

void* openAppendFile(const char* path) {
    // Append-only access: every write lands at the end, whole.
    HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

void appendToFile(void* file, const std::string& line) {
    DWORD written = 0;
    ::WriteFile(static_cast<HANDLE>(file), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void closeAppendFile(void* file) { ::CloseHandle(static_cast<HANDLE>(file)); }

std::tm localTime(std::time_t seconds) {
    std::tm local{};
    localtime_s(&local, &seconds);
    return local;
}

int waitForStandardInput(int timeoutMs) {
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return -1;
    switch (::GetFileType(input)) {
        case FILE_TYPE_DISK:
            return 1;
        case FILE_TYPE_CHAR:
            return ::WaitForSingleObject(input, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0 ? 1 : 0;
        case FILE_TYPE_PIPE: {
            // A pipe handle is always signalled; ask it what it holds instead.
            DWORD available = 0;
            if (!::PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) return 1;  // closed: end of input
            if (available > 0) return 1;
            ::Sleep(static_cast<DWORD>(timeoutMs));
            return 0;
        }
        default:
            return -1;
    }
}

long readStandardInput(char* buffer, size_t size) {
    DWORD n = 0;
    if (!::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, static_cast<DWORD>(size), &n, nullptr))
        return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    return static_cast<long>(n);
}

}  // namespace DruxApps
