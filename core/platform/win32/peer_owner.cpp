// The owner of a loopback peer on Windows: the TCP table names the process
// that owns each connection; the peer's row is the one whose local end is our
// remote end and the other way round. That process's token names its user,
// compared with our own process's user.
//
// An owning process id of 0 names no process: the system keeps such rows for
// sockets no process holds, and Wine reports 0 for every connection. Either
// way the owner cannot be told. A process that we may not even query is taken
// for another user's (or the system's): a user's own processes grant that user
// limited query access.
//
// The same comparison of token users answers whose a process is
// (processUser of process.h), for the kills and waits by executable name.
#include "core/platform/peer_owner.h"
#include "core/platform/process.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <sddl.h>
// clang-format on

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <vector>

namespace Drux {
namespace {

// The table can grow between the call that sizes it and the one that fills it.
constexpr int kTableTries = 8;

void format(char* buffer, size_t size, const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buffer, size, pattern, args);
    va_end(args);
}

PeerOwnerResult unknown(const char* what, DWORD error) {
    PeerOwnerResult result;
    result.owner = PeerOwner::Unknown;
    if (error == 0)
        format(result.detail, sizeof result.detail, "%s", what);
    else
        format(result.detail, sizeof result.detail, "%s (error %lu)", what, static_cast<unsigned long>(error));
    return result;
}

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_ != nullptr) CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    HANDLE* put() { return &handle_; }

private:
    HANDLE handle_;
};

// A process's user SID, copied into `sid` (SECURITY_MAX_SID_SIZE bytes).
// Returns 0 on success, else the system's error code.
DWORD tokenUser(HANDLE process, unsigned char* sid) {
    Handle token(nullptr);
    if (!OpenProcessToken(process, TOKEN_QUERY, token.put())) return GetLastError();
    alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD length = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &length)) return GetLastError();
    const PSID user = reinterpret_cast<const TOKEN_USER*>(buffer)->User.Sid;
    if (!CopySid(SECURITY_MAX_SID_SIZE, sid, user)) return GetLastError();
    return 0;
}

// The owning process id of the connection from `from` to `to`, or an error.
DWORD owningProcess(const sockaddr_in& from, const sockaddr_in& to, DWORD* pid, bool* found) {
    std::vector<unsigned char> table;
    ULONG size = 0;
    DWORD status = ERROR_INSUFFICIENT_BUFFER;
    for (int tries = 0; tries < kTableTries && status == ERROR_INSUFFICIENT_BUFFER; ++tries) {
        table.resize(size);
        status = GetExtendedTcpTable(table.empty() ? nullptr : table.data(), &size, FALSE, AF_INET,
                                     TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
    }
    if (status != NO_ERROR) return status;
    *found = false;
    const size_t header = offsetof(MIB_TCPTABLE_OWNER_PID, table);
    if (table.size() < header) return NO_ERROR;
    const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
    const size_t count = std::min<size_t>(rows->dwNumEntries, (table.size() - header) / sizeof(MIB_TCPROW_OWNER_PID));
    for (size_t i = 0; i < count; ++i) {
        const MIB_TCPROW_OWNER_PID& row = rows->table[i];
        // The ports sit in the low 16 bits, in network order like sin_port.
        if (row.dwLocalAddr == from.sin_addr.s_addr && (row.dwLocalPort & 0xFFFF) == from.sin_port &&
            row.dwRemoteAddr == to.sin_addr.s_addr && (row.dwRemotePort & 0xFFFF) == to.sin_port) {
            *pid = row.dwOwningPid;
            *found = true;
            break;
        }
    }
    return NO_ERROR;
}

// The user's SID as text ("S-1-5-21-..."); false when the system cannot tell it.
bool sidText(PSID sid, char* buffer, size_t size) {
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) return false;
    format(buffer, size, "%s", text);
    LocalFree(text);
    return true;
}

}  // namespace

PeerOwnerResult peerOwner(SocketHandle accepted) {
    const SOCKET socket = static_cast<SOCKET>(accepted);
    sockaddr_in local{}, peer{};
    int localLength = sizeof local, peerLength = sizeof peer;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
        return unknown("the connection's addresses cannot be read", static_cast<DWORD>(WSAGetLastError()));
    if (local.sin_family != AF_INET || peer.sin_family != AF_INET) return unknown("not an IPv4 connection", 0);

    DWORD pid = 0;
    bool found = false;
    const DWORD status = owningProcess(peer, local, &pid, &found);
    if (status != NO_ERROR) return unknown("the TCP table cannot be read", status);

    PeerOwnerResult result;
    if (!found) {
        result.owner = PeerOwner::Closed;
        format(result.detail, sizeof result.detail, "the peer's connection is no longer listed");
        return result;
    }
    if (pid == 0) return unknown("the system names no process for the peer's connection", 0);

    unsigned char ours[SECURITY_MAX_SID_SIZE];
    const DWORD ownError = tokenUser(GetCurrentProcess(), ours);
    if (ownError != 0) return unknown("this process's user cannot be read", ownError);

    Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    const DWORD openError = process.get() == nullptr ? GetLastError() : 0;
    unsigned char theirs[SECURITY_MAX_SID_SIZE];
    const DWORD peerError = openError != 0 ? openError : tokenUser(process.get(), theirs);
    if (peerError == ERROR_ACCESS_DENIED) {
        result.owner = PeerOwner::OtherUser;
        format(result.detail, sizeof result.detail, "(process %lu, closed to this user)",
               static_cast<unsigned long>(pid));
        return result;
    }
    if (peerError == ERROR_INVALID_PARAMETER) {
        // The owning process has ended since the table was read.
        result.owner = PeerOwner::Closed;
        format(result.detail, sizeof result.detail, "the peer's process %lu has ended",
               static_cast<unsigned long>(pid));
        return result;
    }
    if (peerError != 0) return unknown("the peer's process cannot be queried", peerError);

    if (EqualSid(ours, theirs)) {
        result.owner = PeerOwner::SameUser;
        return result;
    }
    result.owner = PeerOwner::OtherUser;
    if (!sidText(theirs, result.detail, sizeof result.detail))
        format(result.detail, sizeof result.detail, "(process %lu)", static_cast<unsigned long>(pid));
    return result;
}

ProcessUserResult processUser(ProcessId processId) {
    ProcessUserResult result;
    unsigned char ours[SECURITY_MAX_SID_SIZE];
    const DWORD ownError = tokenUser(GetCurrentProcess(), ours);
    if (ownError != 0) {
        format(result.detail, sizeof result.detail, "this process's user cannot be read (error %lu)",
               static_cast<unsigned long>(ownError));
        return result;
    }
    // Identifier 0 names no process (the system's idle process at most).
    Handle process(processId == 0 ? nullptr : OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    const DWORD openError = processId == 0 ? ERROR_INVALID_PARAMETER : process.get() == nullptr ? GetLastError() : 0;
    unsigned char theirs[SECURITY_MAX_SID_SIZE];
    const DWORD error = openError != 0 ? openError : tokenUser(process.get(), theirs);
    if (error == ERROR_ACCESS_DENIED) {
        // A user's own processes grant that user limited query access.
        result.user = ProcessUser::Other;
        format(result.detail, sizeof result.detail, "closed to this user");
        return result;
    }
    if (error != 0) {
        format(result.detail, sizeof result.detail, "its user cannot be read (error %lu)",
               static_cast<unsigned long>(error));
        return result;
    }
    if (EqualSid(ours, theirs)) {
        result.user = ProcessUser::Same;
        return result;
    }
    result.user = ProcessUser::Other;
    sidText(theirs, result.detail, sizeof result.detail);
    return result;
}

}  // namespace Drux
