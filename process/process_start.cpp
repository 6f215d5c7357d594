// Starting the AIR client or the game: the exported start, the start routine
// with its log lines and pauses, and the launch of one program.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/enum_names.h"
#include "core/export_guard.h"
#include "core/figures.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "core/platform/clock.h"
#include "core/platform/paths.h"
#include "core/platform/process.h"
#include "core/platform/system_error.h"
#include "process/file_checks.h"
#include "process/process_helper.h"
#include "process/process_launch.h"
#include "process/process_waits.h"

namespace {

struct RequestRelease {
    void operator()(VantrelProcessStartRequest* request) const {
        delete[] request->arguments;
        delete request;
    }
};

char* copyText(const char* text) {
    const size_t length = std::strlen(text);
    char* copy = new char[length + 1];
    std::memcpy(copy, text, length + 1);
    return copy;
}

// The directory a program starts in: the one holding its executable, made
// absolute. False when the path cannot be split or made absolute; the program
// then keeps the launcher's directory.
bool workingDirectoryFor(const char* path, char* output, size_t outputSize) {
    char containing[256];
    if (!GetContainingDirectory(path, containing)) return false;
    return Drux::fullPath(output, outputSize, containing);
}

}  // namespace

std::string Drux::buildCommandLine(const char* applicationName, const char* const* argv, int argc) {
    std::string line;
    if (std::strchr(applicationName, ' ') != nullptr) {
        line += '"';
        line += applicationName;
        line += '"';
    } else {
        line += applicationName;
    }
    for (int i = 0; i < argc && argv != nullptr; ++i) {
        if (argv[i] == nullptr) continue;
        line += ' ';
        line += argv[i];
    }
    return line;
}

bool LaunchProcess(const char* const* argv, int argc, const char* applicationName, const char* workingDirectory,
                   ProcessHandle* out) {
    if (applicationName == nullptr) {
        if (argc <= 0 || argv == nullptr || argv[0] == nullptr) {
            Drux::setLastError(Drux::LibraryFailure::InvalidArgument);
            return false;
        }
        applicationName = argv[0];
    }
    const std::string commandLine = Drux::buildCommandLine(applicationName, argv, argc);
    if (commandLine.size() > kMaxCommandLineLength) {
        Drux::LogErrorF(1024,
                        "The command line for %s has %zu characters, more than the %zu allowed; it is not started.\n",
                        applicationName, commandLine.size(), kMaxCommandLineLength);
        Drux::setLastError(Drux::LibraryFailure::TooLong);
        return false;
    }
    std::vector<char> buffer(kMaxCommandLineLength + 1, '\0');
    std::memcpy(buffer.data(), commandLine.data(), commandLine.size());

    Drux::ProcessId processId = 0;
    if (!Drux::launchProcess(applicationName, buffer.data(), workingDirectory, &processId)) return false;
    if (out != nullptr) {
        out->handle = nullptr;
        out->processId = processId;
    }
    return true;
}

int32_t VantrelAgent_DebugLoop(VantrelProcessStartRequest* request) {
    std::unique_ptr<VantrelProcessStartRequest, RequestRelease> owned(request);
    Drux::LogInfo("Starting Process Thread Spinning\n");
    if (Drux::processHelperStateOrLogError() == nullptr) return 0;
    const int32_t processType = request->processType;

    uint32_t running = 0;
    VantrelProcessHelper_IsProcessRunning(processType, &running);
    if (running == 1) {
        Drux::LogError("Process is already running.\n");
        return 0;
    }

    // A copy: the record's game path may change on another connection's thread.
    char path[Drux::kMaxPath] = {};
    const char* recorded = nullptr;
    VantrelProcessHelper_GetProcessPathForProcessType(processType, &recorded);
    if (recorded != nullptr) Drux::std_strncpy(path, sizeof path, recorded);
    const char* arguments = request->arguments != nullptr ? request->arguments : "";

    char workingDirectory[Drux::kMaxPath] = {};
    const bool haveWorkingDirectory = workingDirectoryFor(path, workingDirectory, sizeof workingDirectory);

    const char* argv[1] = {arguments};
    ProcessHandle launched;
    const bool started = LaunchProcess(argv, arguments[0] != '\0' ? 1 : 0, path,
                                       haveWorkingDirectory ? workingDirectory : nullptr, &launched);
    const Drux::SystemError launchError = Drux::saveLastError();

    if (!started) {
        Drux::restoreLastError(launchError);
        LogLastError("VantrelAgent_DebugLoop");
        if (processType == VANTRELPROCESSTYPE_AIR) Drux::LogError(workingDirectory);
        Drux::LogError("Failed to start process.\n");
    } else {
        SetProcessIdForProcessType(processType, launched.processId);
        if (processType == VANTRELPROCESSTYPE_AIR)
            Drux::LogInfoF(320, "Using registered HWND: %d to launch the air client.\n",
                           static_cast<int>(reinterpret_cast<intptr_t>(Drux::registeredHwnd())));
    }

    Drux::processWaits().sleep(Drux::figures().processStartPauseMs);

    if (started) {
        const char* name = Drux::processTypeName(processType);
        Drux::LogInfoF(320, "StartProcess [%s] successful\n", name != nullptr ? name : "");
        return 1;
    }
    Drux::restoreLastError(launchError);
    return 0;
}

VANTREL_API int32_t VantrelProcessHelper_StartProcess(int32_t processType, const char* arguments) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
        char* copy = copyText(arguments != nullptr ? arguments : "");
        auto* request = new VantrelProcessStartRequest();
        request->processType = processType;
        request->arguments = copy;

        Drux::LogInfo("New thread go!\n");
        const int32_t result = VantrelAgent_DebugLoop(request);
        if (result == 0) Drux::LogErrorF(320, "Process Start: %d\n", Drux::lastErrorCode());

        Drux::processWaits().sleep(Drux::figures().processStartPauseMs);
        return result;
    });
}
