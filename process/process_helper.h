// Internal operations of the process helper used by the launcher controller.
#pragma once

#include <boost/shared_ptr.hpp>
#include <atomic>
#include <cstdint>

#include "VantrelProcessHelper.h"
#include "core/export_guard.h"
#include "core/platform/mutex.h"
#include "core/platform/paths.h"

// A program's path as it was when it was taken from the record.
struct ProcessPath {
    char text[Drux::kMaxPath] = {};
};

// The record. An AIR connection's handler changes the game path while the
// host's thread and other connections read the paths, so the paths are only
// reached through copies taken under the record's lock.
class VantrelProcessHelperState {
public:
    VantrelProcessHelperState(const char* launcherPath, const char* airPath, const char* gamePath);
    VantrelProcessHelperState(const VantrelProcessHelperState&) = delete;
    VantrelProcessHelperState& operator=(const VantrelProcessHelperState&) = delete;

    // The path of LAUNCHER, AIR or GAME; false (and an empty text) for any other type.
    bool path(int32_t processType, ProcessPath* out) const;
    // The path of one of the three types (an empty text for any other).
    ProcessPath path(int32_t processType) const;
    void setGamePath(const char* path);
    void resetGamePathToDefault();

    std::atomic<uint32_t> airProcessId{0};
    std::atomic<uint32_t> gameProcessId{0};

private:
    boost::shared_ptr<Drux::Mutex> lock_;
    char launcherPath_[Drux::kMaxPath] = {};
    char airPath_[Drux::kMaxPath] = {};
    char gamePath_[Drux::kMaxPath] = {};
    char defaultGamePath_[Drux::kMaxPath] = {};
};

// The helper's record, or null before VantrelProcessHelper_Init / after Remove.
namespace Drux {
VantrelProcessHelperState* processHelperState();
}  // namespace Drux
// The same; without a record, logs ERROR
// "VantrelProcessHelper is not yet initialized.\n" and returns null.
namespace Drux {
VantrelProcessHelperState* processHelperStateOrLogError();
}  // namespace Drux

// Runs an export's body with the helper's record, guarded; without a record
// logs the not-initialised line and returns 0.
namespace Drux {
template <typename Body>
int32_t withProcessHelper(const char* exportName, Body&& body) {
    return Drux::guardExport(exportName, 0, [&]() -> int32_t {
        VantrelProcessHelperState* state = Drux::processHelperStateOrLogError();
        if (state == nullptr) return 0;
        return body(*state);
    });
}
}  // namespace Drux

// These four do not check that the record exists; callers have.
int32_t GetProcessIdForProcessType(int32_t processType, uint32_t* processId);
int32_t SetProcessIdForProcessType(int32_t processType, uint32_t processId);
void SetGamePath(const char* path);
void ResetGamePathToDefault();

// The window handle a host registered (VantrelServerController_RegisterHwnd);
// named in the log line of an AIR client start.
namespace Drux {
void setRegisteredHwnd(void* windowHandle);
}  // namespace Drux
namespace Drux {
void* registeredHwnd();
}  // namespace Drux
