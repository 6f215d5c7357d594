// Finding running processes by the file name of their executable: kill every
// match, wait for a match to end, and find the AIR client again. The kills and
// waits take only processes of the user this process runs as: a program of
// the same name that another user runs is none of the launcher's business,
// even when the launcher runs as root or elevated.
#include "process/process_discovery.h"

#include <cstddef>
#include <cstring>

#include "VantrelProcessHelper.h"
#include "core/export_guard.h"
#include "core/figures.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "core/platform/paths.h"
#include "core/platform/process.h"
#include "process/process_waits.h"

namespace {

constexpr size_t kProcessListCapacity = 1024;
constexpr size_t kNameSize = 320;

// The file name and extension of path, the name a process's executable must
// have to match. False when path is null or its file name does not fit.
bool targetNameOf(const char* path, char* target) {
    char fileName[kNameSize];
    char extension[kNameSize];
    if (path == nullptr ||
        !Drux::splitPath(path, nullptr, 0, nullptr, 0, fileName, sizeof fileName, extension, sizeof extension))
        return false;
    Drux::boundedPrintf(target, kNameSize, "%s%s", fileName, extension);
    return true;
}

bool equalIgnoringCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = *a;
        char y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

// Calls visit(id, executable name) for every process that we may open and
// whose executable can be read, in list order, until visit returns false.
template <typename Visit>
void scanProcesses(Visit visit) {
    Drux::ProcessId ids[kProcessListCapacity] = {};
    const size_t count = Drux::enumerateProcesses(ids, kProcessListCapacity);
    for (size_t i = 0; i < count; ++i) {
        if (!Drux::processCanBeOpened(ids[i])) continue;
        char moduleName[kNameSize];
        if (!Drux::processExecutableName(ids[i], moduleName, sizeof moduleName)) continue;
        if (!visit(ids[i], static_cast<const char*>(moduleName))) return;
    }
}

// Whether a kill or wait by name may take the process: only one of our own
// user. Another user's is left alone, with a line saying so; one whose user
// the system cannot tell is taken as ours, with a warning, as a connection
// whose owner cannot be told is admitted.
bool ofOurUser(Drux::ProcessId id, const char* name) {
    const Drux::ProcessUserResult owner = Drux::processUser(id);
    switch (owner.user) {
        case Drux::ProcessUser::Same:
            return true;
        case Drux::ProcessUser::Other:
            Drux::LogInfoF(512, "Leaving process %u (%s) alone: it belongs to another user (%s).\n",
                           static_cast<unsigned>(id), name, owner.detail);
            return false;
        case Drux::ProcessUser::Unknown:
            break;
    }
    Drux::LogWarningF(512, "Could not check the user of process %u (%s): %s; taking it for this user's.\n",
                      static_cast<unsigned>(id), name, owner.detail);
    return true;
}

// Logs why a path cannot be searched for; false when it cannot.
bool searchableTarget(const char* operation, const char* path, char* target) {
    if (path == nullptr) {
        Drux::LogErrorF(320, "%s was given no path.\n", operation);
        return false;
    }
    if (!targetNameOf(path, target)) {
        Drux::LogErrorF(320, "%s: the file name of the path is too long to look for.\n", operation);
        return false;
    }
    return true;
}

}  // namespace

VANTREL_API int32_t VantrelProcessHelper_KillProcessByName(const char* path) {
    return Drux::guardExport(__func__, 1, [&]() -> int32_t {
        char target[kNameSize];
        if (!searchableTarget("VantrelProcessHelper_KillProcessByName", path, target)) return 1;
        const Drux::ProcessId own = Drux::currentProcessId();
        scanProcesses([&](Drux::ProcessId id, const char* name) {
            if (id != own && std::strcmp(name, target) == 0 && ofOurUser(id, name)) Drux::terminateProcess(id);
            return true;
        });
        return 1;
    });
}

int32_t WaitForProcessExitByName(const char* path) {
    char target[kNameSize];
    if (!searchableTarget("WaitForProcessExitByName", path, target)) return 0;
    const Drux::ProcessId own = Drux::currentProcessId();
    int32_t ended = 0;
    scanProcesses([&](Drux::ProcessId id, const char* name) {
        if (id == own || std::strcmp(name, target) != 0 || !ofOurUser(id, name)) return true;
        if (Drux::processWaits().waitForProcessExit(id, Drux::figures().processExitWaitMs)) {
            ended = 1;
            return false;
        }
        return !Drux::processWaits().interrupted();
    });
    return ended;
}

uint32_t RefindAirClient() {
    char target[kNameSize];
    targetNameOf(kAirClientExecutableName, target);
    uint32_t found = 0;
    scanProcesses([&](Drux::ProcessId id, const char* name) {
        if (equalIgnoringCase(name, target)) {
            Drux::LogInfoF(1024, "I found what appears to be a new handle for %s.  New: %d\n", kAirClientExecutableName,
                           static_cast<int>(id));
            found = id;
        }
        return true;
    });
    if (found == 0)
        Drux::LogErrorF(1024, "Looking for air at %s to fill in new proc info, but did not find it.\n",
                        kAirClientExecutableName);
    return found;
}
