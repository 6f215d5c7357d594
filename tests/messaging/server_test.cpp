// The launcher's listening server (its start and broadcast rules, the order of
// its clients, deletion with clients still connected) and the game side's
// client connection.
#include <thread>

#include "messaging/client.h"
#include "messaging/server_internal.h"
#include "messaging_test_support.h"
#include "support/test_system.h"

using namespace MessagingTest;

namespace {

// Larger than what the loopback buffers hold: a broadcast of it stalls at each
// client until the test drains that client.
const std::string kBig(8 * 1024 * 1024, 'p');

class ServerTest : public DruxTest::LoggedTest {
protected:
    void TearDown() override {
        if (server != nullptr) VantrelServer_Delete(&server);
        for (SocketHandle s : clients) Drux::socketClose(s);
        DruxTest::LoggedTest::TearDown();
    }

    uint16_t startServer() {
        EXPECT_EQ(1, VantrelServer_Create(&server));
        VantrelServer_SetMessageArrivedCallback(server, &recorder, &Recorder::callback);
        EXPECT_EQ(1, VantrelServer_Start(server, 0));
        return Drux::socketLocalPort(server->listenSocket);
    }

    // Connects one raw client and waits until the server has listed it.
    SocketHandle connectClient(uint16_t port) {
        const VantrelServerClientNode* head = server->clients.load();
        clients.push_back(Drux::socketCreate());
        EXPECT_TRUE(Drux::socketConnect(clients.back(), port));
        EXPECT_TRUE(DruxTest::waitUntil([&] { return server->clients.load() != head; }));
        return clients.back();
    }

    std::thread broadcastBig() {
        return std::thread([s = server] { EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(s, 11, kBig.c_str())); });
    }

    VantrelServerHandle server = nullptr;
    Recorder recorder;
    std::vector<SocketHandle> clients;
};

TEST_F(ServerTest, StartBroadcastAndDeleteRules) {
    VantrelServerHandle idle = nullptr;
    ASSERT_EQ(1, VantrelServer_Create(&idle));
    EXPECT_EQ(0, VantrelServer_SendMessageToAllClients(idle, VANTRELMESSAGETYPE_CLOSE, nullptr));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, VantrelServer_Delete(&idle));  // never started: waits for nothing, logs nothing
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(nullptr, idle);
    EXPECT_EQ(0, VantrelServer_Delete(&idle));
    EXPECT_EQ(0, VantrelServer_Start(nullptr, 0));
    startServer();
    EXPECT_EQ(0, VantrelServer_Start(server, 0));
    EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(server, VANTRELMESSAGETYPE_CLOSE, nullptr));
    EXPECT_EQ(logLines(), (std::vector<std::string>{"INFO: vantrel [test] initializing...\n",
                                                    "ERROR: Server cannot send messages until it is started.\n",
                                                    "ERROR: VantrelServer is not yet initialized.\n",
                                                    "ERROR: VantrelServer_Start was called without a VantrelServer.\n",
                                                    "ERROR: Server is already running.\n",
                                                    "INFO: No clients are currently connected.\n"}));
}

TEST_F(ServerTest, ClientsKeepTheCallbackOfTheirAcceptAndADeadOneStaysListed) {
    const uint16_t port = startServer();
    const SocketHandle early = connectClient(port);
    Recorder later;
    VantrelServer_SetMessageArrivedCallback(server, &later, &Recorder::callback);
    const SocketHandle late = connectClient(port);
    sendRaw(early, messageBytes(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, "early"));
    sendRaw(late, messageBytes(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, "late"));
    ASSERT_TRUE(recorder.waitForCount(1) && later.waitForCount(1));
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{"8:early"});
    EXPECT_EQ(later.messages(), std::vector<std::string>{"8:late"});

    Drux::socketShutdown(early);
    VantrelServerClientNode* dead = server->clients.load()->next;
    ASSERT_TRUE(DruxTest::waitUntil([&] { return dead->agent->core->heartbeatActive.load() == 0; }));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(server, 3, nullptr));
    EXPECT_EQ(dead, server->clients.load()->next);
    EXPECT_EQ(1, dead->agent->core->isRunning.load());
    // Each broadcast still hands the message to the dead client's agent too.
    EXPECT_EQ(6u, linesAmong(logLines(), {"INFO: SendMessage [VANTRELMESSAGETYPE_CLOSE]\n",
                                          "WARNING: Failed to send to socket.\n"}).size());
    EXPECT_EQ(headerBytes(16, 1, 5, 0) + messageBytes(3) + messageBytes(3) + messageBytes(3), readBytes(late, 64));
}

// Whether the other end closes the connection (after any data still on its way).
bool closedByPeer(SocketHandle socket) {
    Drux::Interrupter never;
    std::vector<char> buffer(64 * 1024);
    for (size_t got = 1; Drux::waitReadable(socket, never, 2000) == Drux::WaitResult::Readable;)
        if (!Drux::socketReceive(socket, buffer.data(), buffer.size(), &got) || got == 0) return true;
    return false;
}

TEST_F(ServerTest, BroadcastReachesTheNewestClientFirstAndDeletionEndsOneThatStalls) {
    for (const uint16_t port = startServer(); clients.size() < 3;) connectClient(port);
    std::thread broadcaster = broadcastBig();
    // While the broadcast stalls at one client, the clients accepted before it have nothing.
    for (size_t i = clients.size(); i-- > 0;) {
        const std::string head = readBytes(clients[i], 1);
        for (size_t j = 0; j < i; ++j) EXPECT_EQ("", readAvailable(clients[j], 50)) << i;
        EXPECT_TRUE(messageBytes(11, kBig) == head + readBytes(clients[i], 16 + kBig.size() - 1)) << i;
    }
    broadcaster.join();
    EXPECT_EQ(3u, linesAmong(logLines(), {"INFO: SendMessage [VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME]\n"}).size());

    // Deleted while a broadcast stalls: the broadcast fails there and ends,
    // and every connection is closed, without waiting out any thread.
    broadcaster = broadcastBig();
    ASSERT_EQ(1u, readBytes(clients.back(), 1).size());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, VantrelServer_Delete(&server));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    broadcaster.join();
    EXPECT_TRUE(logContains("WARNING: Failed to send to socket.\n"));
    EXPECT_FALSE(logContains("shut down correctly") || logContains("Unable to close"));
    for (SocketHandle client : clients) EXPECT_TRUE(closedByPeer(client));
}

class ClientTest : public DruxTest::LoggedTest {};

TEST_F(ClientTest, RefusedStartCanBeRetriedAndAStartedClientStaysStarted) {
    // Bound but not yet listening: connects to this port are refused.
    const SocketHandle listening = Drux::socketCreate();
    ASSERT_TRUE(Drux::socketBind(listening, 0));
    const uint16_t port = Drux::socketLocalPort(listening);
    VantrelClient *client = nullptr, *idle = nullptr;
    ASSERT_EQ(1, VantrelClient_Create(&client));
    EXPECT_EQ(0, VantrelClient_Start(client, port));
    EXPECT_EQ(0, client->isStarted.load());
    if (DruxTest::runningUnderWine()) {
        VantrelClient_Delete(&client);
        Drux::socketClose(listening);
        GTEST_SKIP() << "Wine refuses a second connect on a socket whose first was refused; Windows allows it";
    }

    ASSERT_TRUE(Drux::socketListen(listening));
    ASSERT_EQ(1, VantrelClient_Start(client, port));
    EXPECT_EQ(1, client->isStarted.load());
    SocketHandle launcher = Drux::kInvalidSocket;
    ASSERT_TRUE(Drux::socketAccept(listening, &launcher));
    EXPECT_EQ(0, VantrelClient_Start(client, port));
    EXPECT_EQ(1, VantrelMessageAgent_SendMessage(client->agent, VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, "abc"));
    EXPECT_EQ(messageBytes(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, "abc"), readBytes(launcher, 19));

    // The launcher going away leaves the client started with heartbeats off.
    Drux::socketClose(launcher);
    ASSERT_TRUE(DruxTest::waitUntil([&] { return client->agent->core->heartbeatActive.load() == 0; }));
    EXPECT_EQ(0, VantrelClient_Start(client, port));
    EXPECT_EQ(1, VantrelClient_Delete(&client));
    EXPECT_EQ(nullptr, client);
    EXPECT_EQ(0, VantrelClient_Delete(&client));
    Drux::socketClose(listening);

    EXPECT_TRUE(logContains("INFO: [VantrelClient_Start] Connection refused\nERROR: Unable to connect to server.\n"));
    EXPECT_EQ(2u, linesAmong(logLines(), {"ERROR: This client has already been started.\n"}).size());
    EXPECT_TRUE(logContains("ERROR: VantrelClient_Delete was called without a client.\n"));
    // A client that never started is deleted at once and without a line.
    ASSERT_EQ(1, VantrelClient_Create(&idle));
    const size_t lines = logLines().size();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, VantrelClient_Delete(&idle));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(lines, logLines().size());
}

}  // namespace
