// The preloaded game's extra channels. The launcher sends the credentials and
// play texts to every connection of its AIR port, so the preloaded game
// listens there too; and it reports the preload's progress
// (INITIAL_PRELOAD_COMPLETE, UPDATE_PLAYER_CONNECTION, GAME_LOADING_COMPLETE),
// which the game controller has no call for, on a second connection to the
// game port, whose messages the launcher relays to the AIR client alike.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "agent_connection.h"

namespace DruxGame {

class PreloadChannels {
public:
    // Runs on the AIR connection's reading thread when the play text arrives.
    using PlayHandler = std::function<void()>;

    explicit PreloadChannels(PlayHandler onPlay);
    bool open(int airPort, int gamePort, std::string* error);
    // GAMECLIENT_INITIAL_PRELOAD_COMPLETE: the game is loaded and waits.
    void reportPreloaded();
    void close();

private:
    void onAirMessage(int32_t type, const char* payload);
    void sendToLauncher(int32_t type, const char* payload);

    PlayHandler onPlay_;
    DruxApps::AgentConnection air_;
    DruxApps::AgentConnection game_;
    std::mutex sendLock_;
};

}  // namespace DruxGame
