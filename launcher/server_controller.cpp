// The controller record, the error and exit reporting, and the exports that
// only read or set its fields.
#include "launcher/server_controller.h"

#include <atomic>

#include "core/export_guard.h"
#include "core/log.h"
#include "launcher/controller_registry.h"
#include "launcher/controller_waits.h"
#include "launcher/start_interruption.h"
#include "process/file_checks.h"
#include "process/process_helper.h"

namespace {

std::atomic<VantrelServerControllerStruct*> g_currentController{nullptr};

}  // namespace

VantrelServerControllerStruct* Drux::currentController() { return g_currentController.load(std::memory_order_acquire); }

void Drux::setCurrentController(VantrelServerControllerStruct* controller) {
    g_currentController.store(controller, std::memory_order_release);
}

VantrelServerControllerStruct* Drux::controllerOrLogError() {
    VantrelServerControllerStruct* controller = Drux::currentController();
    if (controller == nullptr) Drux::LogError("VantrelServerControllerStruct is not yet initialized.\n");
    return controller;
}

void ReportControllerError(int32_t errorType, const char* text) {
    Drux::LogError(text);
    VantrelServerControllerStruct* controller = Drux::currentController();
    if (controller == nullptr || ControllerWaits::interrupted()) return;
    const VantrelErrorMessageCallback callback = controller->errorCallback.load();
    if (callback == nullptr) return;
    ControllerWaits::CallbackScope scope;
    callback(controller->errorCallbackContext.load(), errorType, text);
}

void Drux::callControllerExitCallback() {
    VantrelServerControllerStruct* controller = Drux::currentController();
    if (controller == nullptr || ControllerWaits::interrupted()) return;
    const VantrelExitCallback callback = controller->exitCallback.load();
    if (callback == nullptr) return;
    ControllerWaits::CallbackScope scope;
    callback(controller->exitCallbackContext.load());
}

extern "C" {

VANTREL_API int32_t VantrelServerController_Stop(void) {
    return Drux::withController(__func__, [](VantrelServerControllerStruct* controller) {
        StartInterruption::interrupt(controller);
        return 1;
    });
}

VANTREL_API int32_t VantrelServerController_RegisterHwnd(void* windowHandle) {
    return Drux::guardExport(__func__, 0, [windowHandle] {
        Drux::setRegisteredHwnd(windowHandle);
        return 1;
    });
}

VANTREL_API VantrelServerHandle VantrelServerController_GetAirServerHandle(void) {
    return Drux::guardExport(__func__, VantrelServerHandle(nullptr), [] {
        VantrelServerControllerStruct* controller = Drux::currentController();
        return controller != nullptr ? controller->airServer : VantrelServerHandle(nullptr);
    });
}

VANTREL_API int32_t VantrelServerController_SetErrorMessageCallback(void* context,
                                                                    VantrelErrorMessageCallback callback) {
    return Drux::withController(__func__, [context, callback](VantrelServerControllerStruct* controller) {
        controller->errorCallbackContext = context;
        controller->errorCallback = callback;
        return 1;
    });
}

VANTREL_API int32_t VantrelServerController_SetExitCallback(void* context, VantrelExitCallback callback) {
    return Drux::withController(__func__, [context, callback](VantrelServerControllerStruct* controller) {
        controller->exitCallbackContext = context;
        controller->exitCallback = callback;
        return 1;
    });
}

VANTREL_API int32_t VantrelServerController_VerifyAllNeededFilesExist(void) {
    return Drux::withController(__func__, [](VantrelServerControllerStruct*) {
        const VantrelProcessHelperState* helper = Drux::processHelperStateOrLogError();
        if (helper == nullptr) return 0;
        // All three run, so that each missing file has its own line.
        const int32_t launcherFound = FileExists(helper->path(VANTRELPROCESSTYPE_LAUNCHER).text);
        const int32_t airFound = FileExists(helper->path(VANTRELPROCESSTYPE_AIR).text);
        const int32_t gameFound = FileExists(helper->path(VANTRELPROCESSTYPE_GAME).text);
        if (launcherFound && airFound && gameFound) return 1;
        ReportControllerError(VANTRELERRORTYPE_GENERIC,
                              "One or more of the required applications could not be found.\n");
        return 0;
    });
}

}  // extern "C"
