// The stand-in AIR client's commands, read from a script file, from one
// argument (commands separated by ';') or typed on standard input.
//
//   create game [args]            GAMECLIENT_CREATE with the start arguments
//   create version <v> [args]     GAMECLIENT_CREATE_VERSION "<v> [args]"
//   preload [payload]             GAMECLIENT_CREATE_CLIENT_AND_PRELOAD
//   credentials [payload]         GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS
//   play                          GAMECLIENT_PLAY_PRELOADED_GAME
//   chat <text>                   CHATMESSAGE_TO_GAME
//   enumerate installed|uninstallable|latest [request]
//   install <v> | install progress | install cancel
//   uninstall <v> | uninstall progress | uninstall cancel
//   preview <v> | preview progress
//   size                          GAMECLIENT_INSTALLED_GAME_VERSION_SIZE
//   kill game                     KILL_GAMECLIENT_PROCESS
//   send <TYPE> [payload]         any message type
//   wait <TYPE> [timeout] [text]  wait for a message of that type (whose
//                                 payload contains text) that no earlier wait
//                                 took, default 60 seconds
//   sleep <seconds>
//   close                         CLOSE, then the client quits (last command)
// Blank lines and lines starting with '#' are ignored. TYPE is a message type
// name with or without "VANTRELMESSAGETYPE_" (or "VANTRELMESSAGETYPE_GAMECLIENT_"),
// or its number.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace DruxAir {

enum class Action { Send, Wait, Sleep, Close };

struct Command {
    int line = 0;        // 1-based position in its source
    std::string source;  // the command as written
    Action action = Action::Send;
    int32_t type = 0;         // Send: the type sent; Wait: the type awaited
    bool hasPayload = false;  // Send: false sends no payload at all
    std::string payload;
    double seconds = 0;        // Wait: time-out; Sleep: duration
    std::string expectedText;  // Wait: the payload must contain it (empty: any)
};

constexpr double kDefaultWaitSeconds = 60;

// One command. *blank is set for an empty or comment line (no command).
// False with a readable reason for a malformed line.
bool parseCommand(const std::string& text, int line, Command* command, bool* blank, std::string* error);

// A whole script; lines are separated by '\n', and also by ';' when
// semicolonsSeparate is set. Nothing may follow "close". Errors name the line.
bool parseScript(const std::string& text, bool semicolonsSeparate, std::vector<Command>* commands, std::string* error);

}  // namespace DruxAir
