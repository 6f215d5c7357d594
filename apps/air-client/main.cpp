// The stand-in AIR client "KyrCLient.exe": the launcher's user interface in a
// launcher run, driven by a script or by commands typed on standard input.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Vantrel.h"
#include "agent_connection.h"
#include "inbox.h"
#include "message_names.h"
#include "options.h"
#include "script.h"
#include "system.h"
#include "timeline.h"

namespace {

using DruxAir::Action;
using DruxAir::Command;
using DruxAir::Inbox;
using DruxApps::Timeline;

enum Status { kDone = 0, kBadInput = 1, kNoConnection = 2, kCommandFailed = 3, kLost = 4, kClosedEarly = 5 };

constexpr double kReplyWaitSeconds = 2;
constexpr int kStdinPollMs = 100;

void onSignal(int) { Inbox::interruptFromSignal(); }

bool readFile(const std::string& path, std::string* text, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read script file \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    *text = content.str();
    return true;
}

class Client {
public:
    Client() : connection_([this](int32_t type, const char* payload) { onMessage(type, payload); }) {}

    bool connect(int port) {
        std::string error;
        if (!connection_.connect(port, true, &error)) {
            Timeline::error("cannot reach the launcher: " + error);
            return false;
        }
        Timeline::notef("connected to the launcher's AIR port %d", port);
        return true;
    }

    Status runScript(const std::vector<Command>& commands) {
        for (const Command& command : commands) {
            if (command.action == Action::Close) Timeline::notef("script passed: %zu commands", commands.size());
            std::string failure;
            const Inbox::Outcome outcome = run(command, &failure);
            if (command.action == Action::Close && outcome == Inbox::Outcome::Found) return kDone;
            if (outcome == Inbox::Outcome::Found ||
                (command.action == Action::Sleep && outcome == Inbox::Outcome::TimedOut))
                continue;
            return stopEarly(outcome, "line " + std::to_string(command.line) + " (" + command.source + ")", failure);
        }
        Timeline::notef("script passed: %zu commands", commands.size());
        return idle();
    }

    Status runInteractive() {
        Timeline::note("reading commands from standard input (\"close\" ends the run)");
        std::string pending;
        int line = 0;
        for (;;) {
            size_t newline;
            while ((newline = pending.find('\n')) != std::string::npos) {
                const std::string text = pending.substr(0, newline);
                pending.erase(0, newline + 1);
                Command command;
                bool blank = false;
                std::string error;
                if (!DruxAir::parseCommand(text, ++line, &command, &blank, &error)) {
                    std::fprintf(stderr, "KyrCLient.exe: %s\n", error.c_str());
                    continue;
                }
                if (blank) continue;
                std::string failure;
                const Inbox::Outcome outcome = run(command, &failure);
                if (command.action == Action::Close && outcome == Inbox::Outcome::Found) return kDone;
                if (outcome == Inbox::Outcome::TimedOut && command.action == Action::Wait)
                    std::fprintf(stderr, "KyrCLient.exe: %s\n", failure.c_str());
                else if (outcome != Inbox::Outcome::Found && outcome != Inbox::Outcome::TimedOut)
                    return stopEarly(outcome, command.source, failure);
            }
            const Inbox::Outcome event = stdinOrEvent(&pending);
            if (event == Inbox::Outcome::TimedOut) return idle();  // end of input
            if (event != Inbox::Outcome::Found) return stopEarly(event, "standard input", "");
        }
    }

    void close() { connection_.close(); }

private:
    void onMessage(int32_t type, const char* payload) {
        if (type == VANTRELMESSAGETYPE_REPLY) {
            Timeline::local("<- launcher  REPLY");
            inbox_.countReply();
            return;
        }
        if (type == VANTRELMESSAGETYPE_HEARTBEAT) {
            Timeline::local("<- launcher  HEARTBEAT");
            inbox_.push(type, payload);
            return;
        }
        Timeline::note("<- launcher  " + DruxApps::describeMessage(type, payload));
        inbox_.push(type, payload);
    }

    bool lost() const { return connection_.lost(); }

    // Found: the command did what it should. Otherwise why not, in *failure.
    Inbox::Outcome run(const Command& command, std::string* failure) {
        auto lostTest = [this] { return lost(); };
        switch (command.action) {
            case Action::Send: {
                const char* payload = command.hasPayload ? command.payload.c_str() : nullptr;
                Timeline::note("-> launcher  " + DruxApps::describeMessage(command.type, payload));
                if (connection_.send(command.type, payload)) return Inbox::Outcome::Found;
                *failure = "the message could not be sent";
                return Inbox::Outcome::Lost;
            }
            case Action::Wait: {
                std::optional<std::string> payload;
                const Inbox::Outcome outcome =
                    inbox_.waitFor(command.type, command.expectedText, command.seconds, lostTest, &payload);
                if (outcome == Inbox::Outcome::TimedOut) {
                    char seconds[32];
                    std::snprintf(seconds, sizeof seconds, "%g", command.seconds);
                    *failure = "no " + DruxApps::messageTypeName(command.type) +
                               (command.expectedText.empty() ? "" : " containing \"" + command.expectedText + "\"") +
                               " within " + seconds + " s";
                }
                return outcome;
            }
            case Action::Sleep:
                return inbox_.pause(command.seconds, lostTest);
            case Action::Close:
                return sendClose() ? Inbox::Outcome::Found : Inbox::Outcome::Lost;
        }
        return Inbox::Outcome::Lost;
    }

    bool sendClose() {
        Timeline::note("-> launcher  CLOSE");
        const uint64_t seen = inbox_.replies();
        if (!connection_.send(VANTRELMESSAGETYPE_CLOSE, nullptr)) return false;
        inbox_.waitReply(seen, kReplyWaitSeconds);
        return true;
    }

    Status stopEarly(Inbox::Outcome outcome, const std::string& where, const std::string& failure) {
        switch (outcome) {
            case Inbox::Outcome::TimedOut:
                Timeline::error("script FAILED at " + where + ": " + failure + "; closing the run");
                sendClose();
                return kCommandFailed;
            case Inbox::Outcome::Closed:
                Timeline::note("the launcher closed the run during " + where + "; answering CLOSE");
                sendClose();
                return kClosedEarly;
            case Inbox::Outcome::Interrupted:
                Timeline::note("interrupted during " + where + "; closing the run");
                sendClose();
                return kClosedEarly;
            case Inbox::Outcome::Lost:
            case Inbox::Outcome::Found:
                break;
        }
        Timeline::error("the connection to the launcher is gone (" + where + ")" +
                        (failure.empty() ? "" : ": " + failure));
        return kLost;
    }

    // After the last command: serve until the run ends.
    Status idle() {
        switch (inbox_.idle([this] { return lost(); })) {
            case Inbox::Outcome::Closed:
                Timeline::note("the launcher closed the run; answering CLOSE");
                return sendClose() ? kDone : kLost;
            case Inbox::Outcome::Interrupted:
                Timeline::note("interrupted; closing the run");
                return sendClose() ? kDone : kLost;
            default:
                Timeline::error("the launcher closed the connection");
                return kLost;
        }
    }

    // Reads standard input into *pending. Found: more text; TimedOut: end of
    // input; otherwise the event that came first.
    Inbox::Outcome stdinOrEvent(std::string* pending) {
        for (;;) {
            if (inbox_.closedByLauncher()) return Inbox::Outcome::Closed;
            if (Inbox::interrupted()) return Inbox::Outcome::Interrupted;
            if (lost()) return Inbox::Outcome::Lost;
            const int ready = DruxApps::waitForStandardInput(kStdinPollMs);
            if (ready < 0) return Inbox::Outcome::TimedOut;
            if (ready == 0) continue;
            char buffer[4096];
            const long n = DruxApps::readStandardInput(buffer, sizeof buffer);
            if (n <= 0) {
                if (!pending->empty()) {
                    pending->push_back('\n');
                    return Inbox::Outcome::Found;
                }
                return Inbox::Outcome::TimedOut;
            }
            pending->append(buffer, static_cast<size_t>(n));
            return Inbox::Outcome::Found;
        }
    }

    Inbox inbox_;
    DruxApps::AgentConnection connection_;
};

}  // namespace

int main(int argc, char** argv) {
    // Started by the launcher, standard output and error lead nowhere: the
    // timeline file is where a failure shows.
    Timeline::open("air-client");
    DruxAir::Options options;
    std::string error;
    if (!DruxAir::parseOptions(argc, argv, &options, &error)) {
        Timeline::error(error);
        std::fprintf(stderr, "\n%s", DruxAir::usageText());
        return kBadInput;
    }
    if (options.help) {
        std::fputs(DruxAir::usageText(), stdout);
        return kDone;
    }

    std::string scriptText;
    std::string scriptName;
    bool scripted = true;
    if (!options.scriptFile.empty()) {
        scriptName = options.scriptFile;
    } else if (options.haveCommands) {
        scriptText = options.commands;
        scriptName = "--commands";
    } else if (const char* fromEnvironment = std::getenv("DRUX_AIR_SCRIPT"); fromEnvironment && *fromEnvironment) {
        scriptName = fromEnvironment;
    } else {
        scripted = false;
    }
    if (scripted && !options.haveCommands && !readFile(scriptName, &scriptText, &error)) {
        Timeline::error(error);
        return kBadInput;
    }
    std::vector<Command> commands;
    if (scripted && !DruxAir::parseScript(scriptText, options.haveCommands, &commands, &error)) {
        Timeline::error("script " + scriptName + ": " + error);
        return kBadInput;
    }

    // Started by the launcher, a Ctrl-C on the terminal is the launcher's to
    // handle (it closes the run); by hand, it closes the run from here.
    std::signal(SIGINT, options.startedByLauncher ? SIG_IGN : onSignal);
    std::signal(SIGTERM, onSignal);

    Vantrel_Init(options.logTag.c_str());
    Timeline::notef("pid %d started%s", DruxApps::currentProcessId(),
                    scripted ? (", script " + scriptName).c_str() : "");
    Status status = kNoConnection;
    {
        Client client;
        if (client.connect(options.port)) status = scripted ? client.runScript(commands) : client.runInteractive();
        client.close();
    }
    Timeline::notef("exits with status %d", static_cast<int>(status));
    Timeline::close();
    Vantrel_Remove();
    return status;
}
