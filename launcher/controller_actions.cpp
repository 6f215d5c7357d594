#include "launcher/controller_actions.h"

#include "VantrelProcessHelper.h"
#include "VantrelServer.h"
#include "core/figures.h"
#include "launcher/controller_waits.h"
#include "launcher/server_controller.h"

namespace {

void relay(VantrelServerHandle VantrelServerControllerStruct::*server, int32_t messageType, const char* payload) {
    VantrelServerControllerStruct* controller = Drux::currentController();
    if (controller == nullptr || ControllerWaits::interrupted()) return;
    VantrelServer_SendMessageToAllClients(controller->*server, messageType, payload);
}

}  // namespace

void Drux::relayToAirClient(int32_t messageType, const char* payload) {
    relay(&VantrelServerControllerStruct::airServer, messageType, payload);
}

void Drux::relayToGame(int32_t messageType, const char* payload) {
    relay(&VantrelServerControllerStruct::gameServer, messageType, payload);
}

void Drux::stopProcessWithGrace(int32_t processType, uint32_t graceMs) {
    if (ControllerWaits::interrupted()) return;
    VantrelProcessHelper_StopProcess(processType, graceMs);
}

void Drux::endRunAfterFailure() {
    const uint32_t grace = Drux::figures().stopGraceMs;
    Drux::stopProcessWithGrace(VANTRELPROCESSTYPE_GAME, grace);
    Drux::stopProcessWithGrace(VANTRELPROCESSTYPE_AIR, grace);
    Drux::callControllerExitCallback();
}
