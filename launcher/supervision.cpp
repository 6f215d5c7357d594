// The host's poll: is the AIR client still there and alive, has the game gone
// silent, and did the game end without saying so.
#include "VantrelProcessHelper.h"
#include "VantrelServer.h"
#include "core/export_guard.h"
#include "core/figures.h"
#include "core/platform/bounded_string.h"
#include "core/platform/clock.h"
#include "core/platform/paths.h"
#include "launcher/controller_actions.h"
#include "launcher/controller_registry.h"
#include "process/process_helper.h"

namespace {

// Stamps and the current time are whole seconds of the wrapping clock: the
// difference is taken as signed, so a stamp from before a wrap is not stale.
bool isStale(uint32_t now, uint32_t stamp) {
    return static_cast<int32_t>(now - stamp) >= static_cast<int32_t>(Drux::figures().silenceLimitSeconds.load());
}

bool isRunning(int32_t processType) {
    uint32_t running = 0;
    VantrelProcessHelper_IsProcessRunning(processType, &running);
    return running != 0;
}

// Whether the game started last has a process (its start has got that far).
bool gameProcessRecorded() {
    const VantrelProcessHelperState* helper = Drux::processHelperState();
    return helper != nullptr && helper->gameProcessId.load() != 0;
}

}  // namespace

extern "C" {

VANTREL_API int32_t VantrelServerController_ProcessEvents(void) {
    return Drux::withController(__func__, [](VantrelServerControllerStruct* controller) {
        if (controller->isStarted != 1) return 1;

        const uint32_t now = Drux::tickSeconds();
        // Taken before the game is looked at: a game started after the look
        // has a new serial and is not taken for the one found gone, and a game
        // whose process did not exist yet is not taken for one that has ended.
        const uint32_t watchedGame = controller->watchedGameStart.load();
        const bool gameLaunched = gameProcessRecorded();
        const bool airRunning = isRunning(VANTRELPROCESSTYPE_AIR);
        const bool gameRunning = isRunning(VANTRELPROCESSTYPE_GAME);
        const uint32_t grace = Drux::figures().stopGraceMs;

        if (airRunning) {
            if (isStale(now, controller->airHeartbeatTime)) {
                if (!gameRunning)
                    ReportControllerError(VANTRELERRORTYPE_AIRHEARTBEAT, "Contact with Air lost  version 1.\n");
                Drux::stopProcessWithGrace(VANTRELPROCESSTYPE_AIR, grace);
                Drux::callControllerExitCallback();
            }
        } else {
            if (!gameRunning)
                ReportControllerError(VANTRELERRORTYPE_AIRHEARTBEAT, "Contact with Air lost version 2.\n");
            Drux::stopProcessWithGrace(VANTRELPROCESSTYPE_AIR, grace);
            Drux::callControllerExitCallback();
        }

        if (gameRunning) {
            if (isStale(now, controller->gameHeartbeatTime)) Drux::stopProcessWithGrace(VANTRELPROCESSTYPE_GAME, grace);
        } else if (watchedGame != 0 && gameLaunched) {
            // A game that the launcher started is gone. Whether a poll saw it
            // running does not matter: most games that crash do so while
            // starting, often before the first poll, and the AIR client would
            // otherwise wait for news that never comes. Reported once, unless
            // the game announced its end (STOPPED, ABANDONED); a game killed at
            // the AIR client's request is reported too, which is how that
            // client learns that it has gone. The flag is read before the game
            // is let go, as a new start clears it only after it has let go of
            // this game.
            const bool announced = controller->gameEndReported != 0;
            uint32_t expected = watchedGame;
            if (controller->watchedGameStart.compare_exchange_strong(expected, 0) && !announced)
                Drux::relayToAirClient(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED, nullptr);
        }
        controller->gameWasRunning = gameRunning ? 1 : 0;
        return 1;
    });
}

VANTREL_API void VantrelServerController_CheckGameTerminationState(void) {
    Drux::guardExport(__func__, 0, [] {
        const VantrelServerControllerStruct* controller = Drux::currentController();
        if (controller == nullptr || controller->gameEndReported != 0) return 0;
        const VantrelProcessHelperState* helper = Drux::processHelperState();
        if (helper == nullptr) return 0;
        const ProcessPath gamePath = helper->path(VANTRELPROCESSTYPE_GAME);
        if (gamePath.text[0] == '\0') return 0;
        char drive[Drux::kMaxPath] = {};
        char directory[Drux::kMaxPath] = {};
        if (!Drux::splitPath(gamePath.text, drive, sizeof drive, directory, sizeof directory, nullptr, 0, nullptr, 0))
            return 0;
        char gameDirectory[Drux::kMaxPath] = {};
        Drux::makePath(gameDirectory, sizeof gameDirectory, drive, directory);
        Drux::relayToAirClient(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED, gameDirectory);
        return 1;
    });
}

}  // extern "C"
