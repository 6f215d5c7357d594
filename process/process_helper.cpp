// The process helper's record: the three programs' paths and the identifiers
// of the AIR client and the game, with the exports that read, test, stop and
// kill them by type.
#include "process/process_helper.h"

#include <atomic>

#include "core/export_guard.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "core/platform/process.h"
#include "process/process_discovery.h"
#include "process/process_waits.h"

namespace {

std::atomic<VantrelProcessHelperState*> g_state{nullptr};
std::atomic<void*> g_registeredHwnd{nullptr};

constexpr char kNotInitialized[] = "VantrelProcessHelper is not yet initialized.\n";
constexpr char kUnknownProcessType[] = "Unknown process type.\n";

// The record's identifier of the type, or null with the reason logged (no
// record, or a type without an identifier).
std::atomic<uint32_t>* processIdField(int32_t processType) {
    VantrelProcessHelperState* state = Drux::processHelperStateOrLogError();
    if (state == nullptr) return nullptr;
    switch (processType) {
        case VANTRELPROCESSTYPE_AIR:
            return &state->airProcessId;
        case VANTRELPROCESSTYPE_GAME:
            return &state->gameProcessId;
        default:
            Drux::LogError(kUnknownProcessType);
            return nullptr;
    }
}

int32_t isProcessRunning(int32_t processType, uint32_t* running) {
    if (Drux::processHelperStateOrLogError() == nullptr) {
        if (running != nullptr) *running = 0;
        return 0;
    }
    if (running == nullptr) {
        Drux::LogError("VantrelProcessHelper_IsProcessRunning needs a place for its answer.\n");
        return 0;
    }
    uint32_t processId = 0;
    GetProcessIdForProcessType(processType, &processId);
    if (processId == 0 && processType == VANTRELPROCESSTYPE_AIR) {
        const uint32_t found = RefindAirClient();
        if (found != 0) SetProcessIdForProcessType(processType, found);
    }
    GetProcessIdForProcessType(processType, &processId);
    if (processId == 0) {
        *running = 0;
        return 1;
    }
    *running = Drux::processIsRunning(processId) ? 1 : 0;
    return 1;
}

}  // namespace

VantrelProcessHelperState::VantrelProcessHelperState(const char* launcherPath, const char* airPath,
                                                     const char* gamePath)
    : lock_(Drux::createMutex()) {
    Drux::std_strncpy(launcherPath_, sizeof launcherPath_, launcherPath);
    Drux::std_strncpy(airPath_, sizeof airPath_, airPath);
    Drux::std_strncpy(gamePath_, sizeof gamePath_, gamePath);
    Drux::std_strncpy(defaultGamePath_, sizeof defaultGamePath_, gamePath);
}

bool VantrelProcessHelperState::path(int32_t processType, ProcessPath* out) const {
    const char* field = nullptr;
    switch (processType) {
        case VANTRELPROCESSTYPE_AIR:
            field = airPath_;
            break;
        case VANTRELPROCESSTYPE_GAME:
            field = gamePath_;
            break;
        case VANTRELPROCESSTYPE_LAUNCHER:
            field = launcherPath_;
            break;
        default:
            break;
    }
    out->text[0] = '\0';
    if (field == nullptr) return false;
    Drux::ScopedLock guard(lock_);
    Drux::std_strncpy(out->text, sizeof out->text, field);
    return true;
}

ProcessPath VantrelProcessHelperState::path(int32_t processType) const {
    ProcessPath copy;
    path(processType, &copy);
    return copy;
}

void VantrelProcessHelperState::setGamePath(const char* path) {
    Drux::ScopedLock guard(lock_);
    Drux::std_strncpy(gamePath_, sizeof gamePath_, path);
}

void VantrelProcessHelperState::resetGamePathToDefault() {
    Drux::ScopedLock guard(lock_);
    Drux::std_strncpy(gamePath_, sizeof gamePath_, defaultGamePath_);
}

VantrelProcessHelperState* Drux::processHelperState() { return g_state.load(); }

namespace Drux {
InterruptibleWaits& processWaits() {
    static InterruptibleWaits waits;
    return waits;
}
}  // namespace Drux

VantrelProcessHelperState* Drux::processHelperStateOrLogError() {
    VantrelProcessHelperState* state = g_state.load();
    if (state == nullptr) Drux::LogError(kNotInitialized);
    return state;
}

int32_t GetProcessIdForProcessType(int32_t processType, uint32_t* processId) {
    std::atomic<uint32_t>* field = processIdField(processType);
    if (field == nullptr) return 0;
    *processId = field->load();
    return 1;
}

int32_t SetProcessIdForProcessType(int32_t processType, uint32_t processId) {
    std::atomic<uint32_t>* field = processIdField(processType);
    if (field == nullptr) return 0;
    field->store(processId);
    return 1;
}

void SetGamePath(const char* path) {
    VantrelProcessHelperState* state = Drux::processHelperStateOrLogError();
    if (state == nullptr) return;
    if (path == nullptr) {
        Drux::LogError("SetGamePath was given no path; the game path stays as it was.\n");
        return;
    }
    state->setGamePath(path);
    state->gameProcessId = 0;
}

void ResetGamePathToDefault() {
    VantrelProcessHelperState* state = Drux::processHelperStateOrLogError();
    if (state == nullptr) return;
    state->resetGamePathToDefault();
    state->gameProcessId = 0;
}

void Drux::setRegisteredHwnd(void* windowHandle) { g_registeredHwnd = windowHandle; }

void* Drux::registeredHwnd() { return g_registeredHwnd.load(); }

VANTREL_API int32_t VantrelProcessHelper_Init(const char* launcherPath, const char* airPath, const char* gamePath) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
        if (launcherPath == nullptr || airPath == nullptr || gamePath == nullptr) {
            Drux::LogError(
                "VantrelProcessHelper_Init needs the launcher, AIR and game paths; one of them is missing.\n");
            return 0;
        }
        delete g_state.exchange(new VantrelProcessHelperState(launcherPath, airPath, gamePath));
        return 1;
    });
}

VANTREL_API int32_t VantrelProcessHelper_Remove(void) {
    return Drux::guardExport(__func__, 0, []() -> int32_t {
        VantrelProcessHelperState* state = g_state.exchange(nullptr);
        if (state == nullptr) {
            Drux::LogError(kNotInitialized);
            return 0;
        }
        delete state;
        return 1;
    });
}

VANTREL_API int32_t VantrelProcessHelper_GetProcessPathForProcessType(int32_t processType, const char** path) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
        if (path == nullptr) {
            Drux::LogError("VantrelProcessHelper_GetProcessPathForProcessType needs a place for the path.\n");
            return 0;
        }
        VantrelProcessHelperState* state = Drux::processHelperStateOrLogError();
        if (state == nullptr) {
            *path = nullptr;
            return 0;
        }
        // The caller gets a copy of its own: one per type and calling thread,
        // valid until that thread asks for the same type again, so a path
        // changed meanwhile on another connection never tears the text read.
        thread_local ProcessPath copies[3];
        ProcessPath copy;
        if (!state->path(processType, &copy)) {
            *path = nullptr;
            Drux::LogError(kUnknownProcessType);
            return 0;
        }
        ProcessPath& mine = copies[processType];
        mine = copy;
        *path = mine.text;
        return 1;
    });
}

VANTREL_API int32_t VantrelProcessHelper_IsProcessRunning(int32_t processType, uint32_t* running) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t { return isProcessRunning(processType, running); });
}

VANTREL_API int32_t VantrelProcessHelper_StopProcess(int32_t processType, uint32_t timeoutMs) {
    return Drux::withProcessHelper(__func__, [&](VantrelProcessHelperState&) -> int32_t {
        uint32_t processId = 0;
        GetProcessIdForProcessType(processType, &processId);
        // Give the program the time-out to end by itself.
        if (Drux::processCanBeOpened(processId)) Drux::processWaits().waitForProcessExit(processId, timeoutMs);

        uint32_t running = 0;
        isProcessRunning(processType, &running);
        if (running != 1) return 1;
        return Drux::terminateProcess(processId) ? 1 : 0;
    });
}

VANTREL_API int32_t VantrelProcessHelper_KillProcess(int32_t processType) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
        const char* path = nullptr;
        if (VantrelProcessHelper_GetProcessPathForProcessType(processType, &path) == 0 || path == nullptr) return 0;
        return VantrelProcessHelper_KillProcessByName(path);
    });
}
