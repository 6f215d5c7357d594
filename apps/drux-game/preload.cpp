#include "preload.h"

#include "VantrelTypes.h"
#include "command_line.h"
#include "message_names.h"
#include "timeline.h"

namespace DruxGame {

using DruxApps::Timeline;

PreloadChannels::PreloadChannels(PlayHandler onPlay)
    : onPlay_(std::move(onPlay)),
      air_([this](int32_t type, const char* payload) { onAirMessage(type, payload); }),
      game_([](int32_t, const char*) {}) {}

bool PreloadChannels::open(int airPort, int gamePort, std::string* error) {
    // Neither connection poses as a peer with heartbeats of its own.
    if (!game_.connect(gamePort, false, error)) return false;
    if (!air_.connect(airPort, false, error)) {
        game_.close();
        return false;
    }
    Timeline::notef("listening for the preload texts on the AIR port %d", airPort);
    return true;
}

void PreloadChannels::reportPreloaded() {
    sendToLauncher(VANTRELMESSAGETYPE_GAMECLIENT_INITIAL_PRELOAD_COMPLETE, nullptr);
}

void PreloadChannels::close() {
    air_.close();
    game_.close();
}

void PreloadChannels::sendToLauncher(int32_t type, const char* payload) {
    std::lock_guard<std::mutex> guard(sendLock_);
    Timeline::note("-> launcher  " + DruxApps::describeMessage(type, payload) + " (preload channel)");
    game_.send(type, payload);
}

void PreloadChannels::onAirMessage(int32_t type, const char* payload) {
    if (type != VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS &&
        type != VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME)
        return;  // the AIR client's traffic, relayed to every AIR connection
    PreloadMessage message;
    std::string error;
    if (payload == nullptr || !parsePreloadMessage(payload, &message, &error)) {
        Timeline::error("ignoring " + DruxApps::messageTypeName(type) + ": " +
                        (payload == nullptr ? std::string("no text") : error));
        return;
    }
    if (message.messageType == "UpdateGameWithCredentials" && message.hasCommandLine) {
        Timeline::notef("<- launcher  credentials (AIR port): game port %d, launcher %s, AIR %s, args \"%s\"",
                        message.commandLine.gamePort, message.commandLine.launcherPath.c_str(),
                        message.commandLine.airPath.c_str(), message.commandLine.arguments.c_str());
        const std::string connection = "player connected: " + message.commandLine.arguments;
        sendToLauncher(VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PLAYER_CONNECTION, connection.c_str());
    } else if (message.messageType == "PlayPreloadedGame") {
        Timeline::note("<- launcher  play (AIR port)");
        sendToLauncher(VANTRELMESSAGETYPE_GAMECLIENT_GAME_LOADING_COMPLETE, nullptr);
        onPlay_();
    } else {
        Timeline::error("ignoring the preload message \"" + message.messageType + "\"");
    }
}

}  // namespace DruxGame
