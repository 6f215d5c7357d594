#include "launcher/controller_actions.h"

#include "VantrelProcessHelper.h"
#include "VantrelServer.h"
#include "core/figures.h"
#include "launcher/controller_waits.h"
#include "launcher/server_controller.h"

namespace {

void relay(VantrelServerHandle VantrelServerControllerStruct::*server, int32_t messageType, const char* payload) {
    VantrelServerControllerStruct* controller = CurrentController();
    if (controller == nullptr || ControllerWaits::interrupted()) return;
    VantrelServer_SendMessageToAllClients(controller->*server, messageType, payload);
}

}  // namespace

void RelayToAirClient(int32_t messageType, const char* payload) {
    relay(&VantrelServerControllerStruct::airServer, messageType, payload);
}

void RelayToGame(int32_t messageType, const char* payload) {
    relay(&VantrelServerControllerStruct::gameServer, messageType, payload);
}

void StopProcessWithGrace(int32_t processType, uint32_t graceMs) {
    if (ControllerWaits::interrupted()) return;
    VantrelProcessHelper_StopProcess(processType, graceMs);
}

void EndRunAfterFailure() {
    const uint32_t grace = Drux::figures().stopGraceMs;
    StopProcessWithGrace(VANTRELPROCESSTYPE_GAME, grace);
    StopProcessWithGrace(VANTRELPROCESSTYPE_AIR, grace);
    CallControllerExitCallback();
}
