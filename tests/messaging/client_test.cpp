// The game side's client connection, alone and against a real server.
#include "core/platform/clock.h"
#include "messaging/client.h"
#include "messaging/server_internal.h"
#include "messaging_test_support.h"

using namespace MessagingTest;

namespace {

class ClientTest : public DruxTest::LoggedTest {};

TEST_F(ClientTest, RefusedConnectCanBeRetriedAndASecondStartIsRefused) {
    // Bound but not yet listening: connects to this port are refused.
    const SocketHandle listening = Drux::socketCreate();
    ASSERT_TRUE(Drux::socketBind(listening, 0));
    const uint16_t port = Drux::socketLocalPort(listening);

    VantrelClient* client = nullptr;
    ASSERT_EQ(1, VantrelClient_Create(&client));
    EXPECT_EQ(0, VantrelClient_Start(client, port));
    const auto lines = logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ("INFO: [VantrelClient_Start] Connection refused\n", lines[lines.size() - 2]);
    EXPECT_EQ("ERROR: Unable to connect to server.\n", lines.back());
    EXPECT_EQ(0, client->isStarted.load());

    ASSERT_TRUE(Drux::socketListen(listening));
    ASSERT_EQ(1, VantrelClient_Start(client, port));
    EXPECT_EQ(1, client->isStarted.load());
    SocketHandle launcher = Drux::kInvalidSocket;
    ASSERT_TRUE(Drux::socketAccept(listening, &launcher));
    EXPECT_EQ(0, VantrelClient_Start(client, port));
    EXPECT_TRUE(logContains("ERROR: This client has already been started.\n"));

    EXPECT_EQ(1, VantrelMessageAgent_SendMessage(client->agent, VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, "abc"));
    EXPECT_EQ(messageBytes(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, "abc"), readBytes(launcher, 19));

    // The launcher going away leaves the client started with heartbeats off.
    Drux::socketClose(launcher);
    int32_t active = -1;
    ASSERT_TRUE(DruxTest::waitUntil([&] {
        VantrelMessageAgent_GetHeartbeatActive(client->agent, &active);
        return active == 0;
    }));
    EXPECT_EQ(0, VantrelClient_Start(client, port));
    EXPECT_EQ(1, VantrelClient_Delete(&client));
    EXPECT_EQ(nullptr, client);
    Drux::socketClose(listening);
}

TEST_F(ClientTest, DeletingANeverStartedClientWaitsForNothingAndLogsNothing) {
    VantrelClient* client = nullptr;
    ASSERT_EQ(1, VantrelClient_Create(&client));
    const size_t lines = logLines().size();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, VantrelClient_Delete(&client));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(nullptr, client);
    EXPECT_EQ(lines, logLines().size());
    EXPECT_EQ(0, VantrelClient_Delete(&client));
    EXPECT_TRUE(logContains("ERROR: VantrelClient_Delete was called without a client.\n"));
}

TEST_F(ClientTest, BothEndsExchangeHeartbeatsAndRepliesOnTheClock) {
    VantrelServerHandle server = nullptr;
    Recorder atLauncher, atGame;
    VantrelServer_Create(&server);
    VantrelServer_SetMessageArrivedCallback(server, &atLauncher, &Recorder::callback);
    ASSERT_EQ(1, VantrelServer_Start(server, 0));
    VantrelClient* client = nullptr;
    VantrelClient_Create(&client);
    VantrelMessageAgent_SetMessageArrivedCallback(client->agent, &atGame, &Recorder::callback);
    ASSERT_EQ(1, VantrelClient_Start(client, Drux::socketLocalPort(server->listenSocket)));
    ASSERT_TRUE(DruxTest::waitUntil([&] { return server->clients.load() != nullptr; }));

    Drux::testing::advanceClock(26000);
    // Each end gets the other's heartbeat and the reply to its own.
    for (Recorder* end : {&atLauncher, &atGame}) {
        ASSERT_TRUE(end->waitForCount(2));
        std::vector<int32_t> types;
        for (const auto& message : end->messages()) types.push_back(message.type);
        std::sort(types.begin(), types.end());
        EXPECT_EQ((std::vector<int32_t>{VANTRELMESSAGETYPE_HEARTBEAT, VANTRELMESSAGETYPE_REPLY}), types);
    }
    EXPECT_EQ(1, VantrelClient_Delete(&client));
    EXPECT_EQ(1, VantrelServer_Delete(&server));
    EXPECT_FALSE(logContains("shut down correctly"));
}

}  // namespace
