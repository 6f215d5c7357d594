#include "launcher/game_launch.h"

#include <atomic>
#include <string>

#include "VantrelProcessHelper.h"
#include "core/figures.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "core/platform/clock.h"
#include "launcher/controller_actions.h"
#include "launcher/controller_waits.h"
#include "launcher/patch_bridge.h"
#include "launcher/server_controller.h"
#include "process/process_helper.h"

namespace {

bool gameIsRunning() {
    uint32_t running = 0;
    VantrelProcessHelper_IsProcessRunning(VANTRELPROCESSTYPE_GAME, &running);
    return running != 0;
}

// Tells one game start from the next; 0 stands for none.
uint32_t nextGameStart() {
    static std::atomic<uint32_t> serial{0};
    uint32_t next = ++serial;
    while (next == 0) next = ++serial;
    return next;
}

}  // namespace

int32_t Drux::startWatchedGame(VantrelServerControllerStruct* controller, const char* commandLine) {
    // The previous game is let go first, so that a poll meanwhile cannot take
    // its announced end for this game's.
    controller->watchedGameStart = 0;
    controller->gameEndReported = 0;
    // Watched from before the start: the game's process is recorded as soon as
    // it exists, and a poll during the start's pauses may find it gone.
    controller->watchedGameStart = nextGameStart();
    return VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_GAME, commandLine);
}

GameWaitResult Drux::waitWhileGameRuns() {
    const Drux::Figures& figures = Drux::figures();
    bool running = gameIsRunning();
    for (uint32_t polls = 0; running && polls < figures.gameRunningPollCount; ++polls) {
        if (!ControllerWaits::sleep(figures.gameRunningPollMs)) return GameWaitResult::Interrupted;
        running = gameIsRunning();
    }
    if (ControllerWaits::interrupted()) return GameWaitResult::Interrupted;
    return running ? GameWaitResult::StillRunning : GameWaitResult::Ended;
}

void StartGameProcess(const char* startArguments, const GamePathChange& pathChange) {
    VantrelServerControllerStruct* controller = Drux::currentController();
    const VantrelProcessHelperState* helper = Drux::processHelperState();
    if (controller == nullptr || helper == nullptr) return;
    const char* arguments = startArguments != nullptr ? startArguments : "";

    const ProcessPath launcherPath = helper->path(VANTRELPROCESSTYPE_LAUNCHER);
    const ProcessPath airPath = helper->path(VANTRELPROCESSTYPE_AIR);
    const std::string commandLine = Drux::formatted("\"%d\" \"%s\" \"%s\" \"%s\"", controller->gamePort,
                                                    launcherPath.text, airPath.text, arguments);

    // Before the wait, so that a poll meanwhile does not stop a game that is
    // being started for a silent one.
    controller->gameHeartbeatTime = Drux::tickSeconds();

    switch (Drux::waitWhileGameRuns()) {
        case GameWaitResult::Interrupted:
            return;
        case GameWaitResult::StillRunning:
            Drux::LogWarning("VANTRELMESSAGETYPE_GAMECLIENT_CREATE message received while game is already running.");
            return;
        case GameWaitResult::Ended:
            break;
    }

    if (pathChange.useDefault)
        ResetGamePathToDefault();
    else
        SetGamePath(pathChange.path);

    if (Drux::startWatchedGame(controller, commandLine.data()) != 1) {
        if (ControllerWaits::interrupted()) return;
        ReportControllerError(VANTRELERRORTYPE_GAMEPROCESSSTART, "Unable to start game.\n");
        Drux::endRunAfterFailure();
    }
}

void StartGameDefault(const char* payload) { StartGameProcess(payload, GamePathChange{}); }

void StartGameForVersion(const char* payload) {
    if (payload == nullptr) return;
    const std::string request(payload);
    const size_t blank = request.find(' ');
    const std::string version = request.substr(0, blank);
    const std::string arguments = blank == std::string::npos ? std::string() : request.substr(blank + 1);

    GamePathChange change;
    if (EnsurePatchSupport() != 0 && PatchBridge_GameVersionToPath(version.c_str(), change.path) != 0) {
        change.path[sizeof change.path - 1] = '\0';
        change.useDefault = false;
    } else {
        Drux::LogErrorF(260, "Failed to get path for game version: %s, defaulting to latest\n", version.c_str());
    }
    StartGameProcess(arguments.c_str(), change);
}
