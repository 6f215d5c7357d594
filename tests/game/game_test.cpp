// The game controller against the launcher's end of the game connection: a
// VantrelServer, or a socket the test writes byte by byte.
#include <functional>
#include <mutex>
#include <thread>

#include "VantrelGameController.h"
#include "VantrelServer.h"
#include "core/platform/clock.h"
#include "game/game_controller.h"
#include "messaging/messaging_test_support.h"
#include "messaging/server_internal.h"
#include "process/process_test_support.h"

namespace {

using MessagingTest::messageBytes;
using Chat = std::pair<void*, std::optional<std::string>>;

std::atomic<int> g_exits{0};
std::atomic<void*> g_exitContext{nullptr};
std::mutex g_chatsMutex;  // for both lists
std::vector<Chat> g_chats;
std::vector<std::string> g_atLauncher;  // "type:payload" of what reached the launcher's server

int32_t onLauncherMessage(void*, int32_t type, const char* payload) {
    std::lock_guard<std::mutex> lock(g_chatsMutex);
    if (type != VANTRELMESSAGETYPE_HEARTBEAT)
        g_atLauncher.push_back(std::to_string(type) + ":" + (payload ? payload : "-"));
    return 1;
}

void onExit(void* context) {
    g_exitContext = context;
    ++g_exits;
}
void onChat(void* context, const char* text) {
    std::lock_guard<std::mutex> lock(g_chatsMutex);
    g_chats.emplace_back(context, text ? std::optional<std::string>(text) : std::nullopt);
}

class GameController : public DruxTest::LoggedTest {
protected:
    void SetUp() override {
        LoggedTest::SetUp();
        g_exits = 0;
        g_chats.clear();
        g_atLauncher.clear();
    }
    void TearDown() override {
        if (Drux::currentGameController() != nullptr) VantrelGameController_Remove();
        for (Drux::SocketHandle socket : {launcher_, listening_}) Drux::socketClose(socket);
        LoggedTest::TearDown();
    }
    // Init, then Start against a port the test listens on (`beforeStart` in
    // between); the launcher's end of the connection, accepted, is launcher_.
    void initAndStart(const std::function<void()>& beforeStart = [] {}) {
        ASSERT_TRUE(Drux::socketBind(listening_, 0) && Drux::socketListen(listening_));
        ASSERT_EQ(1, VantrelGameController_Init("first.exe", "second.exe"));
        beforeStart();
        ASSERT_EQ(1, VantrelGameController_Start(Drux::socketLocalPort(listening_)));
        ASSERT_TRUE(Drux::socketAccept(listening_, &launcher_));
    }
    int32_t hung() {
        int32_t value = -1;
        EXPECT_EQ(1, VantrelGameController_AreProcessesHung(&value));
        return value;
    }
    Drux::SocketHandle listening_ = Drux::socketCreate(), launcher_ = Drux::kInvalidSocket;
};

TEST_F(GameController, ExchangesProgressChatAndTheCloseOrderWithTheLaunchersGameServer) {
    VantrelServerHandle server = nullptr;
    VantrelServer_Create(&server);
    VantrelServer_SetMessageArrivedCallback(server, nullptr, &onLauncherMessage);
    ASSERT_EQ(1, VantrelServer_Start(server, 0));
    int exitContext = 0, chatContext = 0;
    const std::string longName(300, 'n');
    ASSERT_EQ(1, VantrelGameController_Init(longName.c_str(), "second.exe"));
    EXPECT_EQ(longName.substr(0, 259), Drux::currentGameController()->firstProcessName);
    ASSERT_EQ(1, VantrelGameController_SetExitCallback(&exitContext, &onExit));
    ASSERT_EQ(1, VantrelGameController_SetReceiveChatMessageCallback(&chatContext, &onChat));
    // Before Start nothing is sent; only the chat export says otherwise.
    EXPECT_EQ(1, VantrelGameController_SendChatMessage("early"));
    EXPECT_EQ(0, VantrelGameController_SendGameLaunchedMessage());
    EXPECT_EQ(2u, MessagingTest::linesAmong(logLines(), {"ERROR: Cannot send messages when the MessageAgent "
                                                         "isn't started.\n"})
                      .size());

    ASSERT_EQ(1, VantrelGameController_Start(Drux::socketLocalPort(server->listenSocket)));
    ASSERT_TRUE(DruxTest::waitUntil([&] { return Drux::serverClientCount(*server) != 0; }));
    EXPECT_EQ(1, VantrelGameController_SendGameLaunchedMessage());
    EXPECT_EQ(1, VantrelGameController_SendGameConnectedToServerMessage());
    EXPECT_EQ(1, VantrelGameController_SendGameVersionMismatchMessage());
    EXPECT_EQ(1, VantrelGameController_SendGameAbandonedMessage());
    EXPECT_EQ(1, VantrelGameController_SendShutdownMessage());
    EXPECT_EQ(1, VantrelGameController_SendChatMessage("gg all"));
    for (const char* text : {"hello game", static_cast<const char*>(nullptr)})
        EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(server, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, text));
    EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(server, VANTRELMESSAGETYPE_CLOSE, nullptr));
    ASSERT_TRUE(DruxTest::waitUntil([&] { return g_exits.load() == 1; }));
    EXPECT_EQ(&exitContext, g_exitContext.load());
    // In order: LAUNCHED, CONNECTED_TO_SERVER, VERSION_MISMATCH, ABANDONED, STOPPED, the chat, and a
    // REPLY to each of the three launcher messages.
    const std::vector<std::string> expected = {"8:-", "10:-", "9:-", "7:-", "1:-", "12:gg all", "5:-", "5:-", "5:-"};
    EXPECT_TRUE(DruxTest::waitUntil([&] {
        std::lock_guard<std::mutex> lock(g_chatsMutex);
        return g_atLauncher.size() >= expected.size();
    }));
    {
        std::lock_guard<std::mutex> lock(g_chatsMutex);
        EXPECT_EQ(expected, g_atLauncher);
        EXPECT_EQ((std::vector<Chat>{{&chatContext, "hello game"}, {&chatContext, std::nullopt}}), g_chats);
    }
    EXPECT_EQ(1, g_exits.load());
    EXPECT_EQ(1, VantrelGameController_Remove());
    VantrelServer_Delete(&server);
}

TEST_F(GameController, ACorruptHeaderEndsTheGameLikeCloseAndTheLauncherCountsAsHungAt150SilentSeconds) {
    ASSERT_NO_FATAL_FAILURE(initAndStart([&] {  // before Start the silence counts from second 0 of the clock
        if (Drux::tickSeconds() < 150) Drux::testing::advanceClock(150 * 1000u);
        EXPECT_EQ(1, hung());
    }));
    EXPECT_EQ(0, hung());

    // Without an exit callback CLOSE only warns.
    const std::string reply = messageBytes(VANTRELMESSAGETYPE_REPLY);
    MessagingTest::sendRaw(launcher_, messageBytes(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "nobody listens") +
                                          messageBytes(VANTRELMESSAGETYPE_CLOSE));
    EXPECT_EQ(reply + reply, MessagingTest::readBytes(launcher_, 32));
    const std::string warning = "WARNING: No VantrelGameController \"Exit\" handler provided.";
    ASSERT_TRUE(DruxTest::waitUntil([&] { return logContains(warning); }));
    ASSERT_EQ(1, VantrelGameController_SetExitCallback(nullptr, &onExit));
    MessagingTest::sendRaw(launcher_, MessagingTest::headerBytes(20, 1, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, 0));
    ASSERT_TRUE(DruxTest::waitUntil([&] { return g_exits.load() == 1; }));
    EXPECT_TRUE(logContains("WARNING: Invalid message header size on incoming message.\n"));

    // A heartbeat; the chat behind it shows that it has been handled, and the
    // second it was heard in is the controller's own record.
    MessagingTest::sendRaw(
        launcher_, messageBytes(VANTRELMESSAGETYPE_HEARTBEAT) + messageBytes(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME));
    EXPECT_EQ(reply + reply, MessagingTest::readBytes(launcher_, 32));
    EXPECT_EQ("", MessagingTest::readAvailable(launcher_));  // the corrupt header had no answer
    const uint32_t heard = Drux::currentGameController()->lastHeardSeconds.load();
    Drux::testing::advanceClock((heard + 149) * 1000 + 500 - Drux::tickMilliseconds());
    EXPECT_EQ(0, hung());
    Drux::testing::advanceClock(1000);
    EXPECT_EQ(1, hung());
    MessagingTest::sendRaw(launcher_, messageBytes(VANTRELMESSAGETYPE_HEARTBEAT));
    EXPECT_TRUE(DruxTest::waitUntil([&] { return hung() == 0; }));
    EXPECT_EQ(1, g_exits.load());
    const std::string text = logText();
    EXPECT_EQ(text.find(warning), text.rfind(warning));
}

// A game's last words reach a launcher that reads: STOPPED, sent behind a
// backlog of chat that the socket has not taken yet, leaves before Remove ends
// the connection.
TEST_F(GameController, TheShutdownMessageBehindABacklogReachesTheLauncherBeforeRemoveEndsTheConnection) {
    ASSERT_NO_FATAL_FAILURE(initAndStart());
    Drux::AgentCore& agent = *Drux::currentGameController()->client->agent->core;
    auto queued = [&agent] {
        Drux::ScopedLock lock(agent.mutex);
        return agent.outgoing.size();
    };
    // The launcher reads nothing yet: chat until some of it has to wait in the queue.
    const std::string chat(1024 * 1024, 'c');
    size_t chats = 0;
    while (queued() == 0 && chats < 64) {
        ASSERT_EQ(1, VantrelGameController_SendChatMessage(chat.c_str()));
        ++chats;
    }
    ASSERT_GT(queued(), 0u);
    EXPECT_EQ(1, VantrelGameController_SendShutdownMessage());
    std::thread remove([] { EXPECT_EQ(1, VantrelGameController_Remove()); });
    bool closed = false;
    const std::string stream = MessagingTest::readBytes(launcher_, SIZE_MAX, 10000, &closed);
    remove.join();
    EXPECT_TRUE(closed);
    const std::string stopped = messageBytes(VANTRELMESSAGETYPE_GAMECLIENT_STOPPED);
    EXPECT_EQ(chats * messageBytes(VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME, chat).size() + stopped.size(),
              stream.size());
    EXPECT_EQ(stopped, stream.substr(stream.size() - std::min(stream.size(), stopped.size())));
    EXPECT_FALSE(logContains("were dropped"));
}

TEST_F(GameController, KillProcessesEndsBothNamedProgramsAndThePatchTools) {
    ProcessTest::StartedProcesses started;
    auto install = [&](const std::string& name) { return ProcessTest::installStandIn(directory()->file("t/" + name)); };
    const std::string first = install(ProcessTest::uniqueName("first"));
    const std::string second = install(ProcessTest::uniqueName("second"));
    std::vector<Drux::ProcessId> ids;
    for (const std::string& path :
         {first, second, install("volp_agent.exe"), install("ZemDiff.exe"), install("ZemPatch.exe")})
        ids.push_back(started.launch(path));
    ASSERT_EQ(1, VantrelGameController_Init(first.c_str(), second.c_str()));
    EXPECT_EQ(1, VantrelGameController_KillProcesses());
    for (Drux::ProcessId id : ids) EXPECT_TRUE(ProcessTest::endsSoon(id)) << id;
}

}  // namespace
