// Creating and removing the launcher-side controller: the machine-wide marker,
// the record, the three servers, the process helper, and the clean-up of
// programs left over from an earlier run.
#include <boost/shared_ptr.hpp>

#include "VantrelProcessHelper.h"
#include "VantrelServer.h"
#include "core/export_guard.h"
#include "core/figures.h"
#include "core/log.h"
#include "core/platform/shared_mutex.h"
#include "launcher/controller_registry.h"
#include "launcher/controller_waits.h"
#include "launcher/message_routing.h"
#include "messaging/server.h"
#include "process/process_helper.h"
#include "process/process_waits.h"

namespace {

// Held from Init to Remove so that "DRUX_VANTREL_MUTEX" exists machine-wide
// while a launcher-side controller is alive. Only the host's thread touches it.
boost::shared_ptr<Drux::SharedMutex> g_controllerSharedMutex;

VantrelServerHandle DefaultBroadcastServer() {
    VantrelServerControllerStruct* controller = Drux::currentController();
    return controller != nullptr ? controller->airServer : nullptr;
}

// Ends every other process that runs the game, the AIR client or the launcher
// (by executable file name), so that nothing of an earlier run is left when
// the servers start listening.
void KillStaleProcesses() {
    const VantrelProcessHelperState* helper = Drux::processHelperState();
    if (helper == nullptr) return;
    for (int32_t type : {VANTRELPROCESSTYPE_GAME, VANTRELPROCESSTYPE_AIR, VANTRELPROCESSTYPE_LAUNCHER})
        VantrelProcessHelper_KillProcessByName(helper->path(type).text);
}

const char* orEmpty(const char* text) { return text != nullptr ? text : ""; }

void createServer(VantrelServerHandle* server, VantrelMessageArrivedCallback handler) {
    VantrelServer_Create(server);
    VantrelServer_SetMessageArrivedCallback(*server, nullptr, handler);
}

// Everything Remove does once it is known that a controller exists and that
// the caller may remove it. Handlers are let go and waited for before anything
// is deleted, so that none of them relays through a server being deleted or
// uses the process helper or the record after they are gone.
void removeController(VantrelServerControllerStruct* controller) {
    // Waits in the handlers (for a running game, a start's pauses, a stop's
    // grace, a game's exit) end now, and no handler calls the host back.
    ControllerWaits::interrupt();
    Drux::processWaits().interrupt();
    const uint32_t bound = Drux::figures().threadShutdownWaitMs;
    if (!ControllerWaits::waitForHandlers(bound))
        Drux::LogWarning("A message handler is still busy while the controller is removed.\n");

    // Each deletion closes its connections and waits for their threads.
    VantrelServerHandle launcherServer = controller->launcherServer;
    VantrelServerHandle airServer = controller->airServer;
    VantrelServerHandle gameServer = controller->gameServer;
    VantrelServer_Delete(&launcherServer);
    VantrelServer_Delete(&airServer);
    VantrelServer_Delete(&gameServer);

    Drux::setCurrentController(nullptr);
    if (ControllerWaits::waitForHandlers(bound)) {
        VantrelProcessHelper_Remove();
        delete controller;
    } else {
        // A handler is stuck outside the library's waits (in a patch function
        // or the host's callback). It may still read the record and the process
        // helper, so both are left to it rather than freed under it.
        Drux::LogWarning("A message handler did not finish; its controller record is not freed.\n");
    }
    Drux::processWaits().resume();
    g_controllerSharedMutex.reset();
}

}  // namespace

extern "C" {

VANTREL_API int32_t VantrelServerController_Init(const char* launcherPath, int32_t launcherPort, const char* airPath,
                                                 int32_t airPort, const char* gamePath, int32_t gamePort,
                                                 void* exitCallbackContext, VantrelExitCallback exitCallback,
                                                 VantrelErrorMessageCallback errorCallback,
                                                 const PatchFunctionTable* patchSupportTable) {
    return Drux::guardExport(__func__, 0, [&] {
        if (ControllerWaits::refusedInsideCallback("VantrelServerController_Init")) return 0;
        // A second Init replaces the controller: the old one is removed first,
        // so its ports are free again and nothing of it is left running here.
        if (VantrelServerControllerStruct* previous = Drux::currentController()) {
            Drux::LogWarning("A controller already exists; it is removed before the new one is created.\n");
            removeController(previous);
        }

        g_controllerSharedMutex = Drux::createSharedMutex();

        auto* controller = new VantrelServerControllerStruct;
        controller->launcherPort = launcherPort;
        controller->airPort = airPort;
        controller->gamePort = gamePort;
        controller->exitCallbackContext = exitCallbackContext;
        controller->exitCallback = exitCallback;
        controller->errorCallback = errorCallback;
        controller->patchSupportTable = patchSupportTable;
        ControllerWaits::resume();
        Drux::setCurrentController(controller);
        Drux::setDefaultBroadcastServerProvider(&DefaultBroadcastServer);

        createServer(&controller->launcherServer, &OnLauncherServerMessage);
        createServer(&controller->airServer, &OnAirServerMessage);
        createServer(&controller->gameServer, &OnGameServerMessage);

        if (launcherPath == nullptr || airPath == nullptr || gamePath == nullptr)
            Drux::LogError("VantrelServerController_Init was given a null path; an empty path is used instead.\n");
        VantrelProcessHelper_Init(orEmpty(launcherPath), orEmpty(airPath), orEmpty(gamePath));
        KillStaleProcesses();

        if (VantrelServer_Start(controller->launcherServer, launcherPort) != 1) {
            // The error context is still null here; the controller stays and
            // must be removed.
            ReportControllerError(VANTRELERRORTYPE_COMMUNICATIONSTART, "Unable to start communications for vantrel.\n");
            return 0;
        }
        return 1;
    });
}

VANTREL_API int32_t VantrelServerController_Remove(void) {
    return Drux::withController(__func__, [](VantrelServerControllerStruct* controller) {
        if (ControllerWaits::refusedInsideCallback("VantrelServerController_Remove")) return 0;
        removeController(controller);
        return 1;
    });
}

}  // extern "C"
