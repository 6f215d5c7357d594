// The messages between a connected game controller and the launcher's side.
#include "core/figures.h"
#include "core/platform/clock.h"
#include "game/game_test_support.h"

namespace {

using GameTest::LauncherServer;
using GameTest::RawLauncher;
using MessagingTest::headerBytes;
using MessagingTest::messageBytes;
using GameController = GameTest::Fixture;

TEST_F(GameController, ExchangesProgressChatAndTheCloseOrderWithTheLaunchersGameServer) {
    LauncherServer launcher;
    int exitContext = 0;
    int chatContext = 0;
    ASSERT_EQ(1, VantrelGameController_Init("first.exe", "second.exe"));
    ASSERT_EQ(1, VantrelGameController_SetExitCallback(&exitContext, &GameTest::Callbacks::onExit));
    ASSERT_EQ(1, VantrelGameController_SetReceiveChatMessageCallback(&chatContext, &GameTest::Callbacks::onChat));
    ASSERT_EQ(1, VantrelGameController_Start(launcher.port()));
    ASSERT_TRUE(launcher.hasClient());

    EXPECT_EQ(1, VantrelGameController_SendGameLaunchedMessage());
    EXPECT_EQ(1, VantrelGameController_SendGameConnectedToServerMessage());
    EXPECT_EQ(1, VantrelGameController_SendGameVersionMismatchMessage());
    EXPECT_EQ(1, VantrelGameController_SendGameAbandonedMessage());
    EXPECT_EQ(1, VantrelGameController_SendShutdownMessage());
    EXPECT_EQ(1, VantrelGameController_SendChatMessage("gg all"));
    ASSERT_TRUE(DruxTest::waitUntil([&] { return launcher.received().size() >= 6; }));
    const auto received = launcher.received();
    const std::vector<int32_t> types = {VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED,
                                        VANTRELMESSAGETYPE_GAMECLIENT_CONNECTED_TO_SERVER,
                                        VANTRELMESSAGETYPE_GAMECLIENT_VERSION_MISMATCH,
                                        VANTRELMESSAGETYPE_GAMECLIENT_ABANDONED, VANTRELMESSAGETYPE_GAMECLIENT_STOPPED,
                                        VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME};
    ASSERT_EQ(types.size(), received.size());
    for (size_t i = 0; i < types.size(); ++i) {
        EXPECT_EQ(types[i], received[i].type);
        EXPECT_EQ(i + 1 < types.size() ? std::nullopt : std::optional<std::string>("gg all"), received[i].payload);
    }

    for (const char* text : {"hello game", static_cast<const char*>(nullptr)})
        EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(launcher.server, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, text));
    EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(launcher.server, VANTRELMESSAGETYPE_CLOSE, nullptr));
    ASSERT_TRUE(DruxTest::waitUntil([&] { return callbacks.exits.load() == 1; }));
    EXPECT_EQ(&exitContext, callbacks.exitContext.load());
    {
        std::lock_guard<std::mutex> lock(callbacks.mutex);
        const std::vector<std::pair<void*, std::optional<std::string>>> chats = {
            {&chatContext, "hello game"}, {&chatContext, std::nullopt}};
        EXPECT_EQ(chats, callbacks.chats);
    }
    // Each launcher message was answered, and the close order was obeyed once.
    EXPECT_TRUE(DruxTest::waitUntil([&] { return launcher.received(true).size() == 3; }));
    EXPECT_EQ(1, callbacks.exits.load());

    EXPECT_EQ(1, VantrelGameController_Remove());
    int32_t active = 7;
    EXPECT_EQ(0, VantrelGameController_GetHeartbeatActive(&active));
    EXPECT_TRUE(logContains("ERROR: VantrelGameControllerStruct is not yet initialized.\n"));
}

TEST_F(GameController, ACorruptHeaderEndsTheGameLikeCloseAndWithoutAHandlerBothOnlyWarn) {
    RawLauncher launcher;
    ASSERT_EQ(1, VantrelGameController_Init("first.exe", "second.exe"));
    ASSERT_EQ(1, VantrelGameController_Start(launcher.port()));
    launcher.accept();
    const std::string reply = messageBytes(VANTRELMESSAGETYPE_REPLY);
    launcher.send(messageBytes(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "nobody listens") +
                  messageBytes(VANTRELMESSAGETYPE_CLOSE));
    EXPECT_EQ(reply + reply, launcher.read(32));
    const std::string warning = "WARNING: No VantrelGameController \"Exit\" handler provided.";
    ASSERT_TRUE(DruxTest::waitUntil([&] { return logContains(warning); }));

    ASSERT_EQ(1, VantrelGameController_SetExitCallback(nullptr, &GameTest::Callbacks::onExit));
    launcher.send(headerBytes(20, 1, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, 0));
    ASSERT_TRUE(DruxTest::waitUntil([&] { return callbacks.exits.load() == 1; }));
    EXPECT_TRUE(logContains("WARNING: Invalid message header size on incoming message.\n"));
    launcher.send(messageBytes(VANTRELMESSAGETYPE_CLOSE));
    EXPECT_EQ(reply, launcher.read(16));
    ASSERT_TRUE(DruxTest::waitUntil([&] { return callbacks.exits.load() == 2; }));
    EXPECT_EQ("", MessagingTest::readAvailable(launcher.connection));  // the corrupt one was not answered
    EXPECT_EQ(2, callbacks.exits.load());
    const std::string text = logText();
    EXPECT_EQ(text.find(warning), text.rfind(warning));
}

TEST_F(GameController, TheLauncherSideCountsAsHungAfterTheSilenceLimitWithoutItsHeartbeat) {
    RawLauncher launcher;
    const int32_t limit = static_cast<int32_t>(Drux::figures().silenceLimitSeconds.load());
    ASSERT_EQ(1, VantrelGameController_Init("first.exe", "second.exe"));
    int32_t hung = -1;
    auto isHung = [&] {
        EXPECT_EQ(1, VantrelGameController_AreProcessesHung(&hung));
        return hung;
    };
    // Before Start the silence counts from second 0 of the clock.
    if (Drux::tickSeconds() < static_cast<uint32_t>(limit)) Drux::testing::advanceClock(limit * 1000u);
    EXPECT_EQ(1, isHung());
    ASSERT_EQ(1, VantrelGameController_Start(launcher.port()));
    launcher.accept();
    EXPECT_EQ(0, isHung());

    // A heartbeat 100 ms into a second; a chat behind it shows when it was handled.
    Drux::testing::advanceClock(1100 - Drux::tickMilliseconds() % 1000);
    const uint32_t heard = Drux::tickSeconds();
    launcher.send(messageBytes(VANTRELMESSAGETYPE_HEARTBEAT) + messageBytes(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME));
    EXPECT_EQ(messageBytes(VANTRELMESSAGETYPE_REPLY) + messageBytes(VANTRELMESSAGETYPE_REPLY), launcher.read(32));
    ASSERT_EQ(heard, Drux::tickSeconds()) << "the heartbeat took most of a second to arrive";

    Drux::testing::advanceClock((heard + limit - 1) * 1000 + 500 - Drux::tickMilliseconds());
    EXPECT_EQ(0, isHung());
    Drux::testing::advanceClock(1000);
    EXPECT_EQ(1, isHung());

    launcher.send(messageBytes(VANTRELMESSAGETYPE_HEARTBEAT));
    EXPECT_TRUE(DruxTest::waitUntil([&] { return isHung() == 0; }));
}

TEST_F(GameController, TheHeartbeatFlagStopsAndResumesTheGamesHeartbeats) {
    RawLauncher launcher;
    const uint32_t interval = Drux::figures().heartbeatIntervalSeconds;
    ASSERT_EQ(1, VantrelGameController_Init("first.exe", "second.exe"));
    ASSERT_EQ(1, VantrelGameController_Start(launcher.port()));
    launcher.accept();
    int32_t active = -1;
    EXPECT_EQ(1, VantrelGameController_GetHeartbeatActive(&active));
    EXPECT_EQ(1, active);

    EXPECT_EQ(1, VantrelGameController_SetHeartbeatActive(0));
    EXPECT_EQ(1, VantrelGameController_GetHeartbeatActive(&active));
    EXPECT_EQ(0, active);
    Drux::testing::advanceClock((interval + 5) * 1000);
    EXPECT_EQ("", MessagingTest::readAvailable(launcher.connection, 100));
    EXPECT_EQ(1, VantrelGameController_SetHeartbeatActive(1));
    EXPECT_EQ(messageBytes(VANTRELMESSAGETYPE_HEARTBEAT), launcher.read(16));

    // A connection the launcher side drops reads as inactive.
    Drux::socketShutdown(launcher.connection);
    EXPECT_TRUE(DruxTest::waitUntil([&] {
        VantrelGameController_GetHeartbeatActive(&active);
        return active == 0;
    }));
}

}  // namespace
