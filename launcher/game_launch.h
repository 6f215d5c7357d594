// The ordinary game start, asked for by the AIR client with GAMECLIENT_CREATE
// (the default game) or GAMECLIENT_CREATE_VERSION (a version's own game).
#pragma once

#include <cstdint>

#include "core/platform/paths.h"

// Which game a start uses: the default game path, or a version's path.
struct GamePathChange {
    bool useDefault = true;
    char path[Drux::kMaxPath] = {};
};

enum class GameWaitResult { Ended, StillRunning, Interrupted };

// While the game started earlier still runs, polls it again every
// gameRunningPollMs, at most gameRunningPollCount times. Interrupted when the
// controller is being removed.
namespace Drux {
GameWaitResult waitWhileGameRuns();
}  // namespace Drux

struct VantrelServerControllerStruct;

// Starts the game with the command line as a new game for the supervision to
// watch: whatever the previous game announced or was asked is forgotten first,
// and from the moment its process exists the supervision reports this game if
// it ends unannounced. The game path must have been set (which forgets the
// previous game's process). The process helper's result.
namespace Drux {
int32_t startWatchedGame(VantrelServerControllerStruct* controller, const char* commandLine);
}  // namespace Drux

// Stamps the game's sign of life, waits for an earlier game to end, applies the
// path change and starts the game with the command line
// "\"<game port>\" \"<launcher path>\" \"<AIR path>\" \"<start arguments>\"".
// A game that cannot be started ends the run.
void StartGameProcess(const char* startArguments, const GamePathChange& pathChange);

// GAMECLIENT_CREATE: the default game, with the payload as start arguments.
void StartGameDefault(const char* payload);
// GAMECLIENT_CREATE_VERSION: "<version> <start arguments>"; the version's path
// comes from the patch support, else the default game is used.
void StartGameForVersion(const char* payload);
