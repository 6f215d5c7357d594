#include "launcher/game_preload.h"

#include "VantrelProcessHelper.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "core/platform/clock.h"
#include "launcher/game_launch.h"
#include "launcher/server_controller.h"
#include "process/process_helper.h"

namespace {

constexpr const char* kStartTag = "<KyrPreloadMessageToGameStart>";
constexpr const char* kEndTag = "<KyrPreloadMessageToGameEnd>";
constexpr const char* kMessageTypeKey = "\"messageType\"";
constexpr size_t kPlayTextSize = 104;

}  // namespace

void StartPreloadGame(const char* payload) {
    VantrelServerControllerStruct* controller = Drux::currentController();
    if (controller == nullptr || Drux::processHelperState() == nullptr) return;
    const char* text = payload != nullptr ? payload : "";

    const std::string commandLine =
        Drux::formatted("%s %s %d %d", "game_client_preload", text, controller->airPort, controller->gamePort);

    // The preloaded game becomes the game that the supervision watches: its
    // silence is counted from its start, as for the ordinary start, and a game
    // that still runs is waited for rather than left unwatched.
    controller->gameHeartbeatTime = Drux::tickSeconds();
    switch (Drux::waitWhileGameRuns()) {
        case GameWaitResult::Interrupted:
            return;
        case GameWaitResult::StillRunning:
            Drux::LogWarning(
                "VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD message received while game is already "
                "running.");
            return;
        case GameWaitResult::Ended:
            break;
    }

    ResetGamePathToDefault();
    // The outcome is logged by the process helper; nothing is reported here.
    // A preloaded game that dies unannounced is a crash like any other game's.
    Drux::startWatchedGame(controller, commandLine.data());
}

void SendCredentialsToPreloadedGame(VantrelServerHandle server, int32_t messageType, const char* payload) {
    VantrelServerControllerStruct* controller = Drux::currentController();
    const VantrelProcessHelperState* helper = Drux::processHelperState();
    if (controller == nullptr || helper == nullptr) return;
    const char* text = payload != nullptr ? payload : "";

    const ProcessPath launcherPath = helper->path(VANTRELPROCESSTYPE_LAUNCHER);
    const ProcessPath airPath = helper->path(VANTRELPROCESSTYPE_AIR);
    const std::string commandLine =
        Drux::formatted("\"|%d| |%s| |%s| |%s|\"", controller->gamePort, launcherPath.text, airPath.text, text);
    const std::string message =
        Drux::formatted("%s{%s:%s,%s:%s}%s", kStartTag, kMessageTypeKey, "\"UpdateGameWithCredentials\"",
                        "\"commandLine\"", commandLine.c_str(), kEndTag);
    VantrelServer_SendMessageToAllClients(server, messageType, message.c_str());
}

void SendPlayPreloadedGame(VantrelServerHandle server, int32_t messageType) {
    char message[kPlayTextSize] = {};
    Drux::boundedPrintf(message, sizeof message, "%s{%s:%s}%s", kStartTag, kMessageTypeKey, "\"PlayPreloadedGame\"",
                        kEndTag);
    VantrelServer_SendMessageToAllClients(server, messageType, message);
}
