// Publishing the current controller, for the exports that create and remove it.
#pragma once

#include <cstdint>

#include "core/export_guard.h"
#include "launcher/server_controller.h"

namespace Drux {
void setCurrentController(VantrelServerControllerStruct* controller);
}  // namespace Drux

// The current controller; without one, logs ERROR
// "VantrelServerControllerStruct is not yet initialized.\n" and returns null.
namespace Drux {
VantrelServerControllerStruct* controllerOrLogError();
}  // namespace Drux

// Runs an export's body with the current controller, guarded; without a
// controller logs the not-initialised line and returns 0.
namespace Drux {
template <typename Body>
int32_t withController(const char* exportName, Body&& body) {
    return Drux::guardExport(exportName, 0, [&]() -> int32_t {
        VantrelServerControllerStruct* controller = Drux::controllerOrLogError();
        if (controller == nullptr) return 0;
        return body(controller);
    });
}
}  // namespace Drux
