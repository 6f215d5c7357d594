// Stands in for the game. It records how it was started; what it does next
// depends on the start arguments (the fourth field of the ordinary game
// command line):
//   "connect"  connects back through the game controller, reports LAUNCHED and
//              CONNECTED_TO_SERVER, answers each chat line "x" with "echo:x",
//              and on the chat line "stop" reports STOPPED and exits; CLOSE
//              from the launcher ends it as well;
//   "exit"     exits at once;
//   otherwise  (also for a preload start) waits to be stopped.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "Vantrel.h"
#include "VantrelGameController.h"
#include "stub_record.h"

namespace {

std::atomic<bool> g_stopAsked{false};
std::atomic<bool> g_closeAsked{false};

void onChat(void*, const char* text) {
    const std::string line = text != nullptr ? text : "";
    if (line == "stop") {
        g_stopAsked = true;
        return;
    }
    VantrelGameController_SendChatMessage(("echo:" + line).c_str());
}

void onExit(void*) { g_closeAsked = true; }

int connectAndReport(int port) {
    Vantrel_Init("game");
    VantrelGameController_Init("drux-test-none-1", "drux-test-none-2");
    VantrelGameController_SetReceiveChatMessageCallback(nullptr, &onChat);
    VantrelGameController_SetExitCallback(nullptr, &onExit);
    if (VantrelGameController_Start(port) != 1) return 2;
    VantrelGameController_SendGameLaunchedMessage();
    VantrelGameController_SendGameConnectedToServerMessage();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!g_stopAsked && !g_closeAsked && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (g_stopAsked) VantrelGameController_SendShutdownMessage();
    VantrelGameController_Remove();
    Vantrel_Remove();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    RecordRun(argc, argv);
    const bool ordinary = argc >= 5 && std::strcmp(argv[1], "game_client_preload") != 0;
    if (ordinary && std::strstr(argv[4], "connect") != nullptr) return connectAndReport(std::atoi(argv[1]));
    if (ordinary && std::strstr(argv[4], "exit") != nullptr) return 0;
    WaitToBeKilled(60);
    return 0;
}
