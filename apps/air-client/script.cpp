#include "script.h"

#include <cstring>

#include "VantrelTypes.h"
#include "message_names.h"
#include "text.h"

namespace DruxAir {
namespace {

using DruxApps::firstWord;

void send(Command* c, int32_t type, const std::string& payload, bool always = false) {
    c->action = Action::Send;
    c->type = type;
    c->hasPayload = always || !payload.empty();
    c->payload = payload;
}

bool noMore(const std::string& rest, const std::string& what, std::string* error) {
    if (rest.empty()) return true;
    *error = "\"" + what + "\" takes no further text (found \"" + rest + "\")";
    return false;
}

// "install <v>", "install progress", "install cancel" and the like.
bool versionCommand(const std::string& word, const std::string& rest, int32_t command, int32_t progress, int32_t cancel,
                    Command* c, std::string* error) {
    std::string after;
    const std::string what = firstWord(rest, &after);
    if (what.empty()) {
        *error = "\"" + word + "\" needs a version, \"progress\"" + (cancel >= 0 ? " or \"cancel\"" : "");
        return false;
    }
    if (what == "progress") {
        send(c, progress, "");
        return noMore(after, word + " progress", error);
    }
    if (what == "cancel" && cancel >= 0) {
        send(c, cancel, "");
        return noMore(after, word + " cancel", error);
    }
    send(c, command, what);
    return noMore(after, word + " <version>", error);
}

bool parseWait(const std::string& rest, Command* c, std::string* error) {
    std::string after;
    const std::string typeText = firstWord(rest, &after);
    if (typeText.empty()) {
        *error = "\"wait\" needs a message type";
        return false;
    }
    if (!DruxApps::parseMessageType(typeText, &c->type)) {
        *error = "unknown message type \"" + typeText + "\"";
        return false;
    }
    c->action = Action::Wait;
    c->seconds = kDefaultWaitSeconds;
    std::string text;
    const std::string second = firstWord(after, &text);
    if (!second.empty() && DruxApps::parseSeconds(second, &c->seconds)) {
        if (c->seconds <= 0) {
            *error = "the time-out of \"wait\" must be above 0 seconds";
            return false;
        }
        c->expectedText = text;
    } else {
        c->expectedText = after;
    }
    return true;
}

bool parseBody(const std::string& text, Command* c, std::string* error) {
    std::string rest;
    const std::string word = firstWord(text, &rest);
    if (word == "create") {
        std::string after;
        const std::string what = firstWord(rest, &after);
        if (what == "game") {
            send(c, VANTRELMESSAGETYPE_GAMECLIENT_CREATE, after);
            return true;
        }
        if (what == "version") {
            std::string arguments;
            const std::string version = firstWord(after, &arguments);
            if (version.empty()) {
                *error = "\"create version\" needs a version";
                return false;
            }
            send(c, VANTRELMESSAGETYPE_GAMECLIENT_CREATE_VERSION,
                 arguments.empty() ? version : version + " " + arguments);
            return true;
        }
        *error = "\"create\" is followed by \"game\" or \"version\"";
        return false;
    }
    if (word == "preload") {
        send(c, VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD, rest);
        return true;
    }
    if (word == "credentials") {
        send(c, VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS, rest);
        return true;
    }
    if (word == "play") {
        send(c, VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME, "");
        return noMore(rest, "play", error);
    }
    if (word == "chat") {
        if (rest.empty()) {
            *error = "\"chat\" needs a text";
            return false;
        }
        send(c, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, rest);
        return true;
    }
    if (word == "enumerate") {
        std::string after;
        const std::string what = firstWord(rest, &after);
        if (what == "installed") {
            send(c, VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS, "");
            return noMore(after, "enumerate installed", error);
        }
        if (what == "uninstallable") {
            send(c, VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_UNINSTALLABLE_VERSIONS, "");
            return noMore(after, "enumerate uninstallable", error);
        }
        if (what == "latest") {
            // The launcher answers a latest-versions request only when it has a text.
            send(c, VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_LATEST_VERSIONS, after.empty() ? "all" : after);
            return true;
        }
        *error = "\"enumerate\" is followed by \"installed\", \"uninstallable\" or \"latest\"";
        return false;
    }
    if (word == "install")
        return versionCommand(word, rest, VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_VERSION,
                              VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_PROGRESS,
                              VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_INSTALL, c, error);
    if (word == "uninstall")
        return versionCommand(word, rest, VANTRELMESSAGETYPE_GAMECLIENT_UNINSTALL_VERSION,
                              VANTRELMESSAGETYPE_GAMECLIENT_UNINSTALL_PROGRESS,
                              VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_UNINSTALL, c, error);
    if (word == "preview")
        return versionCommand(word, rest, VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_PREVIEW,
                              VANTRELMESSAGETYPE_GAMECLIENT_PREVIEW_PROGRESS,
                              VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_PREVIEW, c, error);
    if (word == "size") {
        send(c, VANTRELMESSAGETYPE_GAMECLIENT_INSTALLED_GAME_VERSION_SIZE, "");
        return noMore(rest, "size", error);
    }
    if (word == "kill") {
        if (rest != "game") {
            *error = "\"kill\" is followed by \"game\"";
            return false;
        }
        send(c, VANTRELMESSAGETYPE_KILL_GAMECLIENT_PROCESS, "");
        return true;
    }
    if (word == "send") {
        std::string payload;
        const std::string typeText = firstWord(rest, &payload);
        if (!DruxApps::parseMessageType(typeText, &c->type)) {
            *error = typeText.empty() ? "\"send\" needs a message type" : "unknown message type \"" + typeText + "\"";
            return false;
        }
        send(c, c->type, payload);
        return true;
    }
    if (word == "wait") return parseWait(rest, c, error);
    if (word == "sleep") {
        c->action = Action::Sleep;
        if (!DruxApps::parseSeconds(rest, &c->seconds)) {
            *error = "\"sleep\" needs a number of seconds";
            return false;
        }
        return true;
    }
    if (word == "close") {
        c->action = Action::Close;
        c->type = VANTRELMESSAGETYPE_CLOSE;
        return noMore(rest, "close", error);
    }
    *error = "unknown command \"" + word + "\"";
    return false;
}

}  // namespace

bool parseCommand(const std::string& text, int line, Command* command, bool* blank, std::string* error) {
    const std::string t = DruxApps::trim(text);
    *blank = t.empty() || t[0] == '#';
    if (*blank) return true;
    *command = Command{};
    command->line = line;
    command->source = t;
    return parseBody(t, command, error);
}

bool parseScript(const std::string& text, bool semicolonsSeparate, std::vector<Command>* commands, std::string* error) {
    commands->clear();
    int line = 1;
    size_t start = 0;
    bool closed = false;
    while (start <= text.size()) {
        size_t end = start;
        while (end < text.size() && text[end] != '\n' && !(semicolonsSeparate && text[end] == ';')) ++end;
        Command command;
        bool blank = false;
        std::string reason;
        const std::string piece = text.substr(start, end - start);
        if (!parseCommand(piece, line, &command, &blank, &reason)) {
            *error = "line " + std::to_string(line) + ": " + reason + " in \"" + DruxApps::trim(piece) + "\"";
            return false;
        }
        if (!blank) {
            if (closed) {
                *error = "line " + std::to_string(line) + ": nothing may follow \"close\"";
                return false;
            }
            closed = command.action == Action::Close;
            commands->push_back(command);
        }
        ++line;
        start = end + 1;
    }
    return true;
}

}  // namespace DruxAir
