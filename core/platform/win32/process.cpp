// Processes on Windows. A program is started with CreateProcessA, detached
// from our console; no handle is kept. Processes are opened by identifier for
// each operation, with the access the launcher has always asked for.
#include "core/platform/process.h"

#include <cstring>
#include <vector>

#include "core/platform/win32/interrupter_object.h"
#include "core/platform/win32/windows_headers.h"
// After <windows.h>, which it needs.
#include <psapi.h>

namespace Drux {
namespace {

// PROCESS_ALL_ACCESS as defined before Windows Vista: the value that also
// opens processes on the systems whose full-access mask is wider.
constexpr DWORD kProcessAllAccess = 0x1F0FFF;

// Command lines are limited to 32,767 characters and a terminator.
constexpr size_t kCommandLineSize = 32768;

class ProcessHandle {
public:
    ProcessHandle(ProcessId processId, DWORD access)
        : handle_(processId == 0 ? nullptr : ::OpenProcess(access, FALSE, processId)) {}
    ~ProcessHandle() {
        if (handle_ != nullptr) ::CloseHandle(handle_);
    }
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HANDLE handle_;
};

// True when the process has ended or cannot be waited on; false on time-out
// or, when `wake` is given, once it is signalled first.
bool waitForExit(ProcessId processId, uint32_t timeoutMs, HANDLE wake) {
    ProcessHandle process(processId, kProcessAllAccess);
    if (!process) return true;
    HANDLE objects[2] = {process.get(), wake};
    // With both ready the lower index, the process, is reported.
    const DWORD result = ::WaitForMultipleObjects(wake != nullptr ? 2 : 1, objects, FALSE, timeoutMs);
    return result != WAIT_TIMEOUT && result != WAIT_OBJECT_0 + 1;
}

}  // namespace

ProcessId currentProcessId() { return static_cast<ProcessId>(::GetCurrentProcessId()); }

bool launchProcess(const char* applicationName, const char* commandLine, const char* workingDirectory,
                   ProcessId* processId) {
    if (applicationName == nullptr || applicationName[0] == '\0') {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    // CreateProcessA may write into the command line, so it gets a copy.
    std::vector<char> line(kCommandLineSize, '\0');
    const char* source = commandLine != nullptr ? commandLine : applicationName;
    const size_t length = std::strlen(source);
    if (length >= line.size()) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::memcpy(line.data(), source, length);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION information{};
    if (!::CreateProcessA(applicationName, line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                          workingDirectory, &startup, &information))
        return false;
    ::CloseHandle(information.hThread);
    ::CloseHandle(information.hProcess);
    if (processId != nullptr) *processId = static_cast<ProcessId>(information.dwProcessId);
    return true;
}

bool processCanBeOpened(ProcessId processId) { return static_cast<bool>(ProcessHandle(processId, kProcessAllAccess)); }

bool processIsRunning(ProcessId processId) {
    ProcessHandle process(processId, kProcessAllAccess);
    // A failed wait counts as running, as a time-out does.
    return process && ::WaitForSingleObject(process.get(), 0) != WAIT_OBJECT_0;
}

bool waitForProcessExit(ProcessId processId, uint32_t timeoutMs) { return waitForExit(processId, timeoutMs, nullptr); }

bool waitForProcessExit(ProcessId processId, uint32_t timeoutMs, const Interrupter& interrupter) {
    return waitForExit(processId, timeoutMs, interrupterObject(interrupter).event);
}

bool terminateProcess(ProcessId processId) {
    ProcessHandle process(processId, kProcessAllAccess);
    return process && ::TerminateProcess(process.get(), 0) != FALSE;
}

size_t enumerateProcesses(ProcessId* ids, size_t capacity) {
    if (ids == nullptr || capacity == 0) return 0;
    static_assert(sizeof(ProcessId) == sizeof(DWORD));
    DWORD filled = 0;
    if (!::EnumProcesses(reinterpret_cast<DWORD*>(ids), static_cast<DWORD>(capacity * sizeof(DWORD)), &filled))
        return 0;
    return filled / sizeof(DWORD);
}

bool processExecutableName(ProcessId processId, char* name, size_t nameSize) {
    if (processId == 0 || name == nullptr || nameSize == 0) return false;
    // The limited right is enough to read the image name, also of a process of
    // the other bitness, whose module list a 32-bit process cannot read.
    ProcessHandle process(processId, PROCESS_QUERY_LIMITED_INFORMATION);
    if (!process) return false;
    char path[MAX_PATH * 4];
    DWORD length = sizeof path;
    if (!::QueryFullProcessImageNameA(process.get(), 0, path, &length)) return false;
    path[length < sizeof path ? length : sizeof path - 1] = '\0';
    const char* base = path;
    for (const char* c = path; *c != '\0'; ++c)
        if (*c == '\\' || *c == '/') base = c + 1;
    const size_t baseLength = std::strlen(base);
    const size_t copied = baseLength < nameSize ? baseLength : nameSize - 1;
    std::memcpy(name, base, copied);
    name[copied] = '\0';
    return true;
}

}  // namespace Drux
