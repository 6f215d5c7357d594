// Starting one of the three programs: the start routine and the launch itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The largest command line the system accepts, in characters.
constexpr size_t kMaxCommandLineLength = 32767;

// One start, handed from VantrelProcessHelper_StartProcess to the start routine,
// which owns and releases it.
struct VantrelProcessStartRequest {
    int32_t processType = 0;
    char* arguments = nullptr;  // private heap copy, NUL-terminated
};

// The result of one launch. No system handle is kept on this system: handle
// stays null and only the identifier is filled in.
struct ProcessHandle {
    void* handle = nullptr;
    uint32_t processId = 0;
};

// The start routine: 1 when the program was started, else 0. Releases the
// request. After a failed launch the last system error
// (core/platform/system_error.h) holds the reason.
int32_t VantrelAgent_DebugLoop(VantrelProcessStartRequest* request);

// The command line of a launch: the application name (in double quotes when
// it contains a blank), then one blank and each argument as it is.
namespace Drux {
std::string buildCommandLine(const char* applicationName, const char* const* argv, int argc);
}  // namespace Drux

// Starts one program. A null applicationName takes argv[0]. A command line
// longer than kMaxCommandLineLength is refused with an ERROR line. False when
// nothing was started (the last system error says why).
bool LaunchProcess(const char* const* argv, int argc, const char* applicationName, const char* workingDirectory,
                   ProcessHandle* out);
