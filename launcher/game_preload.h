// The preloaded game: started early with the preload command line, completed
// later by the credentials and play texts that the AIR server sends to all of
// its connections.
#pragma once

#include <cstdint>

#include "VantrelServer.h"

// GAMECLIENT_CREATE_CLIENT_AND_PRELOAD: starts the default game with
// "game_client_preload <payload> <AIR port> <game port>".
void StartPreloadGame(const char* payload);
// GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS: sends the credentials text
// (the ordinary game command line in vertical bars) with the given type.
void SendCredentialsToPreloadedGame(VantrelServerHandle server, int32_t messageType, const char* payload);
// GAMECLIENT_PLAY_PRELOADED_GAME: sends the play text with the given type.
void SendPlayPreloadedGame(VantrelServerHandle server, int32_t messageType);
