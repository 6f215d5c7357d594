// Starting a run: the AIR and game servers begin listening and the AIR client
// is started with a command line that carries the AIR port.
#include <cstring>

#include "VantrelProcessHelper.h"
#include "VantrelServer.h"
#include "core/export_guard.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "core/platform/clock.h"
#include "launcher/controller_registry.h"
#include "launcher/controller_waits.h"
#include "launcher/start_interruption.h"

namespace {

constexpr size_t kMaxExtraArgumentsLength = 2000;
constexpr size_t kAirCommandLineSize = 2048;

int32_t startArgs(const char* exportName, const char* extraArguments) {
    if (ControllerWaits::refusedInsideCallback(exportName)) return 0;
    VantrelServerControllerStruct* controller = Drux::controllerOrLogError();
    if (controller == nullptr) return 0;
    if (extraArguments != nullptr && std::strlen(extraArguments) > kMaxExtraArgumentsLength) {
        Drux::LogError("Failed because arguments passed are too long.\n");
        return 0;
    }
    char commandLine[kAirCommandLineSize] = {};
    Drux::boundedPrintf(commandLine, sizeof commandLine,
                        "-runtime .\\ -nodebug META-INF\\AIR\\application.xml .\\ -- %d%s%s", controller->airPort,
                        extraArguments != nullptr ? " " : "", extraArguments != nullptr ? extraArguments : "");
    return VantrelServerController_StartArgsExplicit(commandLine);
}

}  // namespace

extern "C" {

VANTREL_API int32_t VantrelServerController_Start(void) {
    return Drux::guardExport(__func__, 0, [] { return startArgs("VantrelServerController_Start", nullptr); });
}

VANTREL_API int32_t VantrelServerController_StartArgs(const char* extraArguments) {
    return Drux::guardExport(
        __func__, 0, [extraArguments] { return startArgs("VantrelServerController_StartArgs", extraArguments); });
}

VANTREL_API int32_t VantrelServerController_StartArgsExplicit(const char* commandLine) {
    return Drux::guardExport(__func__, 0, [commandLine] {
        if (ControllerWaits::refusedInsideCallback("VantrelServerController_StartArgsExplicit")) return 0;
        VantrelServerControllerStruct* controller = Drux::controllerOrLogError();
        if (controller == nullptr) return 0;
        if (controller->isStarted == 1) {
            ReportControllerError(VANTRELERRORTYPE_GENERIC, "The controller is already started.\n");
            return 0;
        }
        StartInterruption::StartScope start;
        // Each failure is reported and the start goes on: the host learns of
        // them through its error callback only.
        if (VantrelServer_Start(controller->airServer, controller->airPort) != 1)
            ReportControllerError(VANTRELERRORTYPE_AIRCOMMSTART, "Unable to start communications for air.\n");
        if (VantrelServer_Start(controller->gameServer, controller->gamePort) != 1)
            ReportControllerError(VANTRELERRORTYPE_GAMECOMMSTART, "Unable to start communications for game.\n");
        // A host stopping during the start wants nothing more started.
        if (!start.stopped() &&
            VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_AIR, commandLine != nullptr ? commandLine : "") != 1)
            ReportControllerError(VANTRELERRORTYPE_AIRPROCESSSTART, "Unable to start air.\n");
        controller->airHeartbeatTime = Drux::tickSeconds();
        if (start.finish(controller)) return 1;
        Drux::LogInfo("The start was stopped before it ended.\n");
        return 0;
    });
}

}  // extern "C"
