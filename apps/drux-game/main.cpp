// The stand-in game "drux-game": the game side of a launcher run, driving the
// library's game controller.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "Vantrel.h"
#include "VantrelGameController.h"
#include "command_line.h"
#include "message_names.h"
#include "preload.h"
#include "system.h"
#include "text.h"
#include "timeline.h"

namespace {

using DruxApps::Timeline;

enum Status { kStopped = 0, kBadInput = 1, kNoConnection = 2, kCrashed = 3, kLost = 4, kSilent = 5 };

// Why the game ends.
enum class End { None, Quit, Abandon, Close, Lost, Silent };

// How often the game's loop asks whether the launcher is still there.
constexpr auto kLoopPeriod = std::chrono::milliseconds(200);

volatile std::sig_atomic_t g_signalled = 0;
void onSignal(int) { g_signalled = 1; }

class Game {
public:
    void requestEnd(End why) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (end_ == End::None) end_ = why;
        }
        changed_.notify_all();
    }

    // The launcher's chat line: a command or something to echo.
    void onChat(const char* text) {
        const std::string line = text ? text : "";
        Timeline::note("<- launcher  " + DruxApps::describeMessage(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, text));
        if (line == "/quit") {
            requestEnd(End::Quit);
        } else if (line == "/abandon") {
            requestEnd(End::Abandon);
        } else if (line == "/crash") {
            Timeline::note("crashing on request (no report)");
            Timeline::close();
            std::_Exit(kCrashed);
        } else if (line == "/mismatch") {
            send("GAMECLIENT_VERSION_MISMATCH", VantrelGameController_SendGameVersionMismatchMessage());
        } else {
            const std::string echo = "echo: " + line;
            Timeline::note("-> launcher  " +
                           DruxApps::describeMessage(VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME, echo.c_str()));
            VantrelGameController_SendChatMessage(echo.c_str());
        }
    }

    static void send(const char* what, int32_t result) {
        Timeline::note(std::string("-> launcher  ") + what + (result == 1 ? "" : " (not sent)"));
    }

    // Until something ends the game.
    End run() {
        std::unique_lock<std::mutex> lock(lock_);
        for (;;) {
            if (end_ != End::None) return end_;
            if (g_signalled) return End::Quit;
            int32_t active = 1;
            int32_t hung = 0;
            lock.unlock();
            VantrelGameController_GetHeartbeatActive(&active);
            VantrelGameController_AreProcessesHung(&hung);
            lock.lock();
            if (active == 0)
                end_ = End::Lost;
            else if (hung == 1)
                end_ = End::Silent;
            else
                changed_.wait_for(lock, kLoopPeriod);
        }
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    End end_ = End::None;
};

void onChat(void* game, const char* text) { static_cast<Game*>(game)->onChat(text); }
void onExit(void* game) {
    Timeline::note("<- launcher  CLOSE");
    static_cast<Game*>(game)->requestEnd(End::Close);
}

Status finish(End end) {
    switch (end) {
        case End::Quit:
        case End::Close:
            Game::send("GAMECLIENT_STOPPED", VantrelGameController_SendShutdownMessage());
            return kStopped;
        case End::Abandon:
            Game::send("GAMECLIENT_ABANDONED", VantrelGameController_SendGameAbandonedMessage());
            return kStopped;
        case End::Lost:
            Timeline::error("the connection to the launcher is gone");
            return kLost;
        case End::Silent:
            Timeline::error("the launcher has been silent too long");
            return kSilent;
        case End::None:
            break;
    }
    return kStopped;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs(DruxGame::usageText(), stdout);
        return kStopped;
    }
    // Started by the launcher, standard output and error lead nowhere: the
    // timeline file is where a failure shows.
    Timeline::open("game");
    DruxGame::CommandLine line;
    std::string error;
    if (!DruxGame::parseCommandLine(argc, argv, &line, &error)) {
        Timeline::error(error);
        std::fprintf(stderr, "\n%s", DruxGame::usageText());
        return kBadInput;
    }
    // The launcher coordinates the end of a run; a terminal's Ctrl-C or a
    // SIGTERM ends the game as "/quit" does.
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    Vantrel_Init("game");
    Timeline::notef("pid %d started from %s/%s, %s, game port %d%s", DruxApps::currentProcessId(),
                    DruxApps::executableDirectory().c_str(), DruxApps::fileName(argv[0]).c_str(),
                    line.preload ? "preloaded" : "ordinary start", line.gamePort,
                    line.preload ? (", payload \"" + line.arguments + "\"").c_str()
                                 : (", arguments \"" + line.arguments + "\"").c_str());

    Game game;
    VantrelGameController_Init(DruxApps::fileName(line.launcherPath).c_str(), DruxApps::fileName(line.airPath).c_str());
    VantrelGameController_SetExitCallback(&game, onExit);
    VantrelGameController_SetReceiveChatMessageCallback(&game, onChat);
    Status status = kNoConnection;
    if (VantrelGameController_Start(line.gamePort) != 1) {
        Timeline::error("cannot connect to the launcher's game port " + std::to_string(line.gamePort) +
                        " (see vantrel-game.log)");
    } else {
        Game::send("GAMECLIENT_LAUNCHED", VantrelGameController_SendGameLaunchedMessage());
        DruxGame::PreloadChannels preload([] {
            Game::send("GAMECLIENT_CONNECTED_TO_SERVER", VantrelGameController_SendGameConnectedToServerMessage());
        });
        bool ready = true;
        if (line.preload) {
            if (preload.open(line.airPort, line.gamePort, &error)) {
                preload.reportPreloaded();
            } else {
                Timeline::error("preload: " + error);
                ready = false;
            }
        } else {
            Game::send("GAMECLIENT_CONNECTED_TO_SERVER", VantrelGameController_SendGameConnectedToServerMessage());
        }
        status = ready ? finish(game.run()) : kNoConnection;
        preload.close();
    }
    VantrelGameController_Remove();
    Timeline::notef("exits with status %d", static_cast<int>(status));
    Timeline::close();
    Vantrel_Remove();
    return status;
}
