// The game controller's record and the operations its files share.
#pragma once

#include <atomic>
#include <cstdint>

#include "VantrelGameController.h"
#include "core/export_guard.h"
#include "core/log.h"
#include "core/platform/paths.h"
#include "messaging/client.h"

struct VantrelGameControllerStruct {
    VantrelClient* client = nullptr;
    char firstProcessName[Drux::kMaxPath] = {};
    char secondProcessName[Drux::kMaxPath] = {};
    std::atomic<uint32_t> lastHeardSeconds{0};
    std::atomic<void*> exitCallbackContext{nullptr};
    std::atomic<VantrelExitCallback> exitCallback{nullptr};
    std::atomic<void*> chatCallbackContext{nullptr};
    std::atomic<VantrelChatMessageCallback> chatCallback{nullptr};
};

// The current controller, or null before Init and after Remove.
namespace Drux {
VantrelGameControllerStruct* currentGameController();
}  // namespace Drux

// Receives every message from the launcher side on the connection's reading thread.
int32_t OnGameClientMessage(void* userData, int32_t messageType, const char* payload);
// Calls the host's exit callback, or warns that there is none. Returns 1.
int32_t CallExitCallback();

// Runs an export's body with the current controller, guarded; without a
// controller logs the not-initialised line and returns 0.
namespace Drux {
template <typename Body>
int32_t withGameController(const char* exportName, Body&& body) {
    return Drux::guardExport(exportName, 0, [&]() -> int32_t {
        VantrelGameControllerStruct* controller = Drux::currentGameController();
        if (controller == nullptr) {
            Drux::LogError("VantrelGameControllerStruct is not yet initialized.\n");
            return 0;
        }
        return body(*controller);
    });
}
}  // namespace Drux
