// The controller's routing: what each of its three servers does with the
// messages of its connections.
#include "launcher/message_routing.h"

#include "VantrelProcessHelper.h"
#include "core/figures.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "core/platform/clock.h"
#include "launcher/controller_actions.h"
#include "launcher/controller_waits.h"
#include "launcher/game_launch.h"
#include "launcher/game_preload.h"
#include "launcher/patch_bridge.h"
#include "launcher/server_controller.h"
#include "process/process_discovery.h"
#include "process/process_helper.h"

namespace {

// The run's end asked for by the AIR client: the game is told to close, both
// programs get the long grace to end by themselves, then the host is told.
void closeRun(VantrelServerControllerStruct* controller) {
    controller->isStarted = 0;
    Drux::relayToGame(VANTRELMESSAGETYPE_CLOSE, nullptr);
    const uint32_t grace = Drux::figures().closeStopGraceMs;
    Drux::stopProcessWithGrace(VANTRELPROCESSTYPE_GAME, grace);
    Drux::stopProcessWithGrace(VANTRELPROCESSTYPE_AIR, grace);
    Drux::callControllerExitCallback();
}

// The game announced its end (STOPPED or ABANDONED): it is given time to exit,
// killed by name if it does not, and the AIR client is told.
void endGame(VantrelServerControllerStruct* controller, int32_t messageType) {
    // First, so that the supervision does not take this end for a crash.
    controller->gameEndReported = 1;
    const VantrelProcessHelperState* helper = Drux::processHelperState();
    if (helper == nullptr || ControllerWaits::interrupted()) return;
    const ProcessPath gamePath = helper->path(VANTRELPROCESSTYPE_GAME);
    if (WaitForProcessExitByName(gamePath.text) == 0 && !ControllerWaits::interrupted())
        VantrelProcessHelper_KillProcess(VANTRELPROCESSTYPE_GAME);
    Drux::relayToAirClient(messageType, nullptr);
}

// What one server does with a message of a live controller's connection.
using Route = void (*)(VantrelServerControllerStruct* controller, int32_t messageType, const char* payload);

// Every server's messages: counted as a handler, ignored once the controller
// is gone or being removed, and a failed connection (INVALID) ends the run
// whichever server it belongs to. Always answers 1.
int32_t handleMessage(Route route, int32_t messageType, const char* payload) {
    const ControllerWaits::HandlerScope handler;
    VantrelServerControllerStruct* controller = Drux::currentController();
    if (controller == nullptr || ControllerWaits::interrupted()) return 1;
    if (messageType == VANTRELMESSAGETYPE_INVALID)
        Drux::endRunAfterFailure();
    else
        route(controller, messageType, payload);
    return 1;
}

void routeLauncherMessage(VantrelServerControllerStruct*, int32_t messageType, const char*) {
    if (messageType == VANTRELMESSAGETYPE_LAUNCHERCLIENT) Drux::LogInfo("Received VANTRELMESSAGETYPE_LAUNCHERCLIENT\n");
}

void routeAirMessage(VantrelServerControllerStruct* controller, int32_t messageType, const char* payload) {
    switch (messageType) {
        case VANTRELMESSAGETYPE_GAMECLIENT_CREATE:
            StartGameDefault(payload);
            break;
        case VANTRELMESSAGETYPE_CLOSE:
            closeRun(controller);
            break;
        case VANTRELMESSAGETYPE_HEARTBEAT:
            controller->airHeartbeatTime = Drux::tickSeconds();
            break;
        case VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME:
            Drux::relayToGame(messageType, payload);
            break;
        case VANTRELMESSAGETYPE_GAMECLIENT_CREATE_VERSION:
            StartGameForVersion(payload);
            break;
        case VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD:
            StartPreloadGame(payload);
            break;
        case VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS:
            SendCredentialsToPreloadedGame(controller->airServer, messageType, payload);
            break;
        case VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME:
            SendPlayPreloadedGame(controller->airServer, messageType);
            break;
        case VANTRELMESSAGETYPE_KILL_GAMECLIENT_PROCESS:
            // The next poll finds the game gone and reports it as crashed: that
            // report is how the AIR client learns the kill has taken effect.
            Drux::stopProcessWithGrace(VANTRELPROCESSTYPE_GAME, Drux::figures().stopGraceMs);
            break;
        default:
            // The version requests; the rest (STOPPED, CRASHED, REPLY,
            // LAUNCHERCLIENT, ABANDONED, LAUNCHED, VERSION_MISMATCH,
            // CONNECTED_TO_SERVER, CHATMESSAGE_FROM_GAME, PLAY_REPLAY,
            // INITIAL_PRELOAD_COMPLETE, UPDATE_PLAYER_CONNECTION,
            // GAME_LOADING_COMPLETE) are the game's messages, not the AIR
            // client's, and Drux::handlePatchRequest leaves them alone.
            Drux::handlePatchRequest(messageType, payload);
            break;
    }
}

void routeGameMessage(VantrelServerControllerStruct* controller, int32_t messageType, const char* payload) {
    switch (messageType) {
        case VANTRELMESSAGETYPE_GAMECLIENT_STOPPED:
        case VANTRELMESSAGETYPE_GAMECLIENT_ABANDONED:
            endGame(controller, messageType);
            break;
        case VANTRELMESSAGETYPE_HEARTBEAT:
            controller->gameHeartbeatTime = Drux::tickSeconds();
            break;
        case VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED:
        case VANTRELMESSAGETYPE_GAMECLIENT_VERSION_MISMATCH:
        case VANTRELMESSAGETYPE_GAMECLIENT_CONNECTED_TO_SERVER:
        case VANTRELMESSAGETYPE_GAMECLIENT_INITIAL_PRELOAD_COMPLETE:
        case VANTRELMESSAGETYPE_GAMECLIENT_GAME_LOADING_COMPLETE:
            Drux::relayToAirClient(messageType, nullptr);
            break;
        case VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME:
        case VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PLAYER_CONNECTION:
            Drux::relayToAirClient(messageType, payload);
            break;
        default:
            // CREATE, CRASHED, CLOSE, CHATMESSAGE_TO_GAME and the AIR client's
            // requests mean nothing coming from the game.
            break;
    }
}

}  // namespace

int32_t OnLauncherServerMessage(void*, int32_t messageType, const char* payload) {
    return handleMessage(routeLauncherMessage, messageType, payload);
}

int32_t OnAirServerMessage(void*, int32_t messageType, const char* payload) {
    return handleMessage(routeAirMessage, messageType, payload);
}

int32_t OnGameServerMessage(void*, int32_t messageType, const char* payload) {
    return handleMessage(routeGameMessage, messageType, payload);
}
