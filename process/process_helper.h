// Internal operations of the process helper used by the launcher controller.
#pragma once

#include <atomic>
#include <cstdint>

#include "VantrelProcessHelper.h"
#include "core/platform/paths.h"

struct VantrelProcessHelperState {
    char launcherPath[Drux::kMaxPath] = {};
    char airPath[Drux::kMaxPath] = {};
    char gamePath[Drux::kMaxPath] = {};
    char defaultGamePath[Drux::kMaxPath] = {};
    std::atomic<uint32_t> airProcessId{0};
    std::atomic<uint32_t> gameProcessId{0};
};

// The helper's record, or null before VantrelProcessHelper_Init / after Remove.
VantrelProcessHelperState* ProcessHelperState();

// These four do not check that the record exists; callers have.
int32_t GetProcessIdForProcessType(int32_t processType, uint32_t* processId);
int32_t SetProcessIdForProcessType(int32_t processType, uint32_t processId);
void SetGamePath(const char* path);
void ResetGamePathToDefault();

// The window handle a host registered (VantrelServerController_RegisterHwnd);
// named in the log line of an AIR client start.
void SetRegisteredHwnd(void* windowHandle);
void* RegisteredHwnd();
