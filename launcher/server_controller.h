// The launcher-side controller's record and the operations its parts share.
#pragma once

#include <atomic>
#include <cstdint>

#include "VantrelServer.h"
#include "VantrelServerController.h"

struct VantrelServerControllerStruct {
    std::atomic<int32_t> isStarted{0};
    int32_t launcherPort = 0;
    VantrelServerHandle launcherServer = nullptr;
    int32_t airPort = 0;
    VantrelServerHandle airServer = nullptr;
    std::atomic<uint32_t> airHeartbeatTime{0};
    int32_t gamePort = 0;
    VantrelServerHandle gameServer = nullptr;
    std::atomic<uint32_t> gameHeartbeatTime{0};
    std::atomic<int32_t> gameWasRunning{0};
    std::atomic<int32_t> gameEndReported{0};
    // The start (a serial number, 0 for none) of the game whose end the
    // supervision has still to account for.
    std::atomic<uint32_t> watchedGameStart{0};
    std::atomic<void*> exitCallbackContext{nullptr};
    std::atomic<VantrelExitCallback> exitCallback{nullptr};
    std::atomic<void*> errorCallbackContext{nullptr};
    std::atomic<VantrelErrorMessageCallback> errorCallback{nullptr};
    const PatchFunctionTable* patchSupportTable = nullptr;
};

// The current controller, or null before Init and after Remove.
namespace Drux {
VantrelServerControllerStruct* currentController();
}  // namespace Drux

// Logs ERROR with the text as given, then calls the host's error callback.
// The controller must exist.
void ReportControllerError(int32_t errorType, const char* text);
// Calls the exit callback with its context, if one is set.
namespace Drux {
void callControllerExitCallback();
}  // namespace Drux
