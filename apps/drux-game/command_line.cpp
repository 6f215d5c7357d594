#include "command_line.h"

#include "text.h"

namespace DruxGame {
namespace {

constexpr const char kPreloadWord[] = "game_client_preload";
constexpr const char kStartTag[] = "<KyrPreloadMessageToGameStart>";
constexpr const char kEndTag[] = "<KyrPreloadMessageToGameEnd>";

// "|47312| |/a/launcher| |/a/KyrCLient.exe| |args|", with or without the
// surrounding double quotes. The last field takes the rest, bars and all.
bool parseCredentialsLine(std::string text, CommandLine* out, std::string* error) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    if (text.size() < 2 || text.front() != '|' || text.back() != '|') {
        *error = "the credentials' command line is not |port| |launcher| |air| |args|";
        return false;
    }
    const std::string inner = text.substr(1, text.size() - 2);
    std::string fields[4];
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t bar = inner.find("| |", start);
        if (bar == std::string::npos) {
            *error = "the credentials' command line has fewer than four |fields|";
            return false;
        }
        fields[i] = inner.substr(start, bar - start);
        start = bar + 3;
    }
    fields[3] = inner.substr(start);
    if (!DruxApps::parsePort(fields[0], "the credentials' game port ", &out->gamePort, error)) return false;
    out->launcherPath = fields[1];
    out->airPath = fields[2];
    out->arguments = fields[3];
    return true;
}

// The text of "key":"value" (value without quotes), or of "key":<rest> up to
// the closing brace when the value is not a plain string.
bool field(const std::string& body, const std::string& key, bool plainString, std::string* value) {
    const std::string marker = "\"" + key + "\":";
    const size_t at = body.find(marker);
    if (at == std::string::npos) return false;
    const size_t start = at + marker.size();
    if (plainString) {
        if (start >= body.size() || body[start] != '"') return false;
        const size_t end = body.find('"', start + 1);
        if (end == std::string::npos) return false;
        *value = body.substr(start + 1, end - start - 1);
        return true;
    }
    *value = body.substr(start);
    return true;
}

}  // namespace

bool parseCommandLine(int argc, const char* const* argv, CommandLine* out, std::string* error) {
    *out = CommandLine{};
    if (argc >= 2 && std::string(argv[1]) == kPreloadWord) {
        if (argc < 4) {
            *error = "the preload command line needs the AIR port and the game port after the payload";
            return false;
        }
        out->preload = true;
        for (int i = 2; i < argc - 2; ++i) out->arguments += (i > 2 ? " " : "") + std::string(argv[i]);
        return DruxApps::parsePort(argv[argc - 2], "the AIR port ", &out->airPort, error) &&
               DruxApps::parsePort(argv[argc - 1], "the game port ", &out->gamePort, error);
    }
    if (argc != 5) {
        *error = "expected \"<gamePort>\" \"<launcherPath>\" \"<airPath>\" \"<args>\" or the preload form, got " +
                 std::to_string(argc - 1) + " arguments";
        return false;
    }
    out->launcherPath = argv[2];
    out->airPath = argv[3];
    out->arguments = argv[4];
    return DruxApps::parsePort(argv[1], "the game port ", &out->gamePort, error);
}

bool parsePreloadMessage(const std::string& text, PreloadMessage* out, std::string* error) {
    *out = PreloadMessage{};
    const size_t start = text.find(kStartTag);
    const size_t end = text.rfind(kEndTag);
    if (start == std::string::npos || end == std::string::npos || end < start + sizeof kStartTag - 1) {
        *error = "not a preload message (no start and end tags)";
        return false;
    }
    std::string body = text.substr(start + sizeof kStartTag - 1, end - start - (sizeof kStartTag - 1));
    if (body.size() < 2 || body.front() != '{' || body.back() != '}') {
        *error = "the preload message is not an object in braces";
        return false;
    }
    body = body.substr(1, body.size() - 2);
    if (!field(body, "messageType", true, &out->messageType)) {
        *error = "the preload message has no \"messageType\"";
        return false;
    }
    std::string commandLine;
    if (field(body, "commandLine", false, &commandLine)) {
        out->hasCommandLine = true;
        return parseCredentialsLine(commandLine, &out->commandLine, error);
    }
    return true;
}

const char* usageText() {
    return "usage: drux-game \"<gamePort>\" \"<launcherPath>\" \"<airPath>\" \"<args>\"\n"
           "       drux-game game_client_preload [payload] <airPort> <gamePort>\n"
           "\n"
           "The stand-in game, started by the launcher. It connects to the launcher's\n"
           "game port, reports GAMECLIENT_LAUNCHED and GAMECLIENT_CONNECTED_TO_SERVER,\n"
           "answers every chat line with \"echo: <line>\", and ends with\n"
           "GAMECLIENT_STOPPED on a CLOSE from the launcher or the chat line \"/quit\".\n"
           "Chat commands: /quit (STOPPED), /abandon (ABANDONED), /mismatch\n"
           "(VERSION_MISMATCH), /crash (ends at once without a word).\n"
           "Preloaded, it also listens on the AIR port for the credentials and play\n"
           "texts and reports INITIAL_PRELOAD_COMPLETE, UPDATE_PLAYER_CONNECTION and\n"
           "GAME_LOADING_COMPLETE before it connects to its server.\n"
           "\n"
           "exit status: 0 stopped as asked; 1 bad command line; 2 cannot connect;\n"
           "3 crashed on request; 4 the launcher went away; 5 the launcher fell silent.\n";
}

}  // namespace DruxGame
