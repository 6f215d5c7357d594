// The two command lines the launcher starts the game with, as split into argv
// by the Windows rules, and the preload texts it sends later.
//
//   ordinary: "<gamePort>" "<launcherPath>" "<airPath>" "<args>"
//   preload:  game_client_preload <payload> <airPort> <gamePort>
//
// The preload payload is unquoted, so it may arrive as several arguments (or
// none): everything between the word and the two ports, joined by blanks.
#pragma once

#include <string>

namespace DruxGame {

struct CommandLine {
    bool preload = false;
    int gamePort = 0;
    int airPort = 0;           // preload only
    std::string launcherPath;  // ordinary only
    std::string airPath;       // ordinary only
    std::string arguments;     // ordinary: the start arguments; preload: the payload
};

bool parseCommandLine(int argc, const char* const* argv, CommandLine* out, std::string* error);

// The credentials text, between "<KyrPreloadMessageToGameStart>" and
// "<KyrPreloadMessageToGameEnd>":
//   {"messageType":"UpdateGameWithCredentials","commandLine":"|port| |launcher| |air| |args|"}
// and the play text {"messageType":"PlayPreloadedGame"}.
struct PreloadMessage {
    std::string messageType;
    bool hasCommandLine = false;
    CommandLine commandLine;  // from the credentials' commandLine, when present
};

bool parsePreloadMessage(const std::string& text, PreloadMessage* out, std::string* error);

const char* usageText();

}  // namespace DruxGame
