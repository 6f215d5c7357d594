// The listening server: its start and broadcast rules, the order of its
// clients, and deletion with clients still connected.
#include <thread>

#include "messaging/agent_internal.h"
#include "messaging/server.h"
#include "messaging/server_internal.h"
#include "messaging_test_support.h"

using namespace MessagingTest;

namespace {

class ServerTest : public DruxTest::LoggedTest {
protected:
    void TearDown() override {
        Drux::setDefaultBroadcastServerProvider(nullptr);
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

    size_t listed() const {
        size_t n = 0;
        for (auto* node = server->clients.load(); node != nullptr; node = node->next) ++n;
        return n;
    }

    // Connects one raw client and waits until the server has listed it.
    SocketHandle connectClient(uint16_t port) {
        const size_t before = listed();
        const SocketHandle s = Drux::socketCreate();
        EXPECT_TRUE(Drux::socketConnect(s, port));
        clients.push_back(s);
        EXPECT_TRUE(DruxTest::waitUntil([&] { return listed() == before + 1; }));
        return s;
    }

    VantrelServerHandle server = nullptr;
    Recorder recorder;
    std::vector<SocketHandle> clients;
};

TEST_F(ServerTest, StartAndBroadcastRules) {
    ASSERT_EQ(1, VantrelServer_Create(&server));
    EXPECT_EQ(0, VantrelServer_SendMessageToAllClients(server, VANTRELMESSAGETYPE_CLOSE, nullptr));
    EXPECT_TRUE(logContains("ERROR: Server cannot send messages until it is started.\n"));
    ASSERT_EQ(1, VantrelServer_Start(server, 0));
    EXPECT_EQ(0, VantrelServer_Start(server, 0));
    EXPECT_TRUE(logContains("ERROR: Server is already running.\n"));
    EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(server, VANTRELMESSAGETYPE_CLOSE, nullptr));
    EXPECT_TRUE(logContains("INFO: No clients are currently connected.\n"));

    // A null server means the installed provider's server; without one, 0 and no line.
    const size_t lines = logLines().size();
    EXPECT_EQ(0, VantrelServer_SendMessageToAllClients(nullptr, VANTRELMESSAGETYPE_CLOSE, nullptr));
    Drux::setDefaultBroadcastServerProvider([]() -> VantrelServerHandle { return nullptr; });
    EXPECT_EQ(0, VantrelServer_SendMessageToAllClients(nullptr, VANTRELMESSAGETYPE_CLOSE, nullptr));
    EXPECT_EQ(lines, logLines().size());
    static VantrelServerHandle provided;
    provided = server;
    Drux::setDefaultBroadcastServerProvider([] { return provided; });
    const SocketHandle client = connectClient(Drux::socketLocalPort(server->listenSocket));
    EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(nullptr, VANTRELMESSAGETYPE_CLOSE, nullptr));
    EXPECT_EQ(messageBytes(VANTRELMESSAGETYPE_CLOSE), readBytes(client, 16));

    VantrelServerHandle none = nullptr;
    EXPECT_EQ(0, VantrelServer_Delete(&none));
    EXPECT_EQ(0, VantrelServer_Delete(nullptr));
    EXPECT_TRUE(logContains("ERROR: VantrelServer is not yet initialized.\n"));
    EXPECT_EQ(0, VantrelServer_Start(nullptr, 0));
    EXPECT_EQ(0, VantrelServer_SetMessageArrivedCallback(nullptr, nullptr, nullptr));
    EXPECT_TRUE(logContains("ERROR: VantrelServer_Start was called without a VantrelServer.\n"));
}

TEST_F(ServerTest, DeletingANeverStartedServerWaitsForNothingAndLogsNothing) {
    ASSERT_EQ(1, VantrelServer_Create(&server));
    const size_t lines = logLines().size();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, VantrelServer_Delete(&server));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(nullptr, server);
    EXPECT_EQ(lines, logLines().size());
}

TEST_F(ServerTest, BroadcastReachesTheNewestClientFirst) {
    const uint16_t port = startServer();
    const SocketHandle first = connectClient(port);
    const SocketHandle second = connectClient(port);
    const SocketHandle third = connectClient(port);
    // A payload larger than what the loopback buffers hold: the broadcast
    // stalls at each client until the test drains it, which shows the order.
    const std::string payload(8 * 1024 * 1024, 'p');
    const size_t size = 16 + payload.size();
    std::thread broadcaster([&] {
        EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(server, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME,
                                                          payload.c_str()));
    });
    // While the broadcast stalls at one client, the clients after it have nothing.
    std::string atThird = readBytes(third, 1);
    EXPECT_EQ("", readAvailable(second, 50));
    EXPECT_EQ("", readAvailable(first, 0));
    atThird += readBytes(third, size - 1);
    std::string atSecond = readBytes(second, 1);
    EXPECT_EQ("", readAvailable(first, 50));
    atSecond += readBytes(second, size - 1);
    const std::string atFirst = readBytes(first, size);
    broadcaster.join();
    const std::string expected = messageBytes(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, payload);
    EXPECT_TRUE(atThird == expected && atSecond == expected && atFirst == expected);
    EXPECT_EQ(3u, linesAmong(logLines(), {"INFO: SendMessage [VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME]\n"}).size());
}

TEST_F(ServerTest, DeadClientStaysListedAndOthersStillReceive) {
    const uint16_t port = startServer();
    const SocketHandle leaving = connectClient(port);
    const SocketHandle staying = connectClient(port);
    Drux::socketShutdown(leaving);
    auto* deadNode = server->clients.load()->next;
    ASSERT_TRUE(DruxTest::waitUntil([&] { return deadNode->agent->core->heartbeatActive.load() == 0; }));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(server, VANTRELMESSAGETYPE_CLOSE, nullptr));
    EXPECT_EQ(2u, listed());
    EXPECT_EQ(1, deadNode->agent->core->isRunning.load());
    EXPECT_EQ(messageBytes(3) + messageBytes(3) + messageBytes(3), readBytes(staying, 48));
}

TEST_F(ServerTest, CallbackReachesOnlyClientsAcceptedAfterItWasSet) {
    const uint16_t port = startServer();
    const SocketHandle early = connectClient(port);
    Recorder later;
    VantrelServer_SetMessageArrivedCallback(server, &later, &Recorder::callback);
    const SocketHandle late = connectClient(port);
    sendRaw(early, messageBytes(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, "early"));
    sendRaw(late, messageBytes(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, "late"));
    ASSERT_TRUE(recorder.waitForCount(1));
    ASSERT_TRUE(later.waitForCount(1));
    EXPECT_EQ("early", recorder.messages()[0].payload.value_or(""));
    EXPECT_EQ("late", later.messages()[0].payload.value_or(""));
    EXPECT_EQ(1u, recorder.count());
    EXPECT_EQ(1u, later.count());
}

TEST_F(ServerTest, DeletionWithConnectedClientsIsPromptAndClosesEveryConnection) {
    const uint16_t port = startServer();
    for (int i = 0; i < 5; ++i) connectClient(port);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, VantrelServer_Delete(&server));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(nullptr, server);
    EXPECT_FALSE(logContains("shut down correctly"));
    EXPECT_FALSE(logContains("Unable to close"));
    for (SocketHandle client : clients) EXPECT_TRUE(closedByPeer(client));
    const SocketHandle refused = Drux::socketCreate();
    EXPECT_FALSE(Drux::socketConnect(refused, port));
    Drux::socketClose(refused);
}

TEST_F(ServerTest, DeletionEndsABroadcastStalledOnAClientBeforeFreeingIt) {
    const uint16_t port = startServer();
    connectClient(port);
    const SocketHandle newest = connectClient(port);
    const VantrelServerHandle handle = server;
    const std::string payload(8 * 1024 * 1024, 'p');
    std::thread broadcaster([&] {
        EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(handle, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME,
                                                          payload.c_str()));
    });
    ASSERT_EQ(1u, readBytes(newest, 1).size());  // under way, and stalled: nobody reads on
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, VantrelServer_Delete(&server));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    broadcaster.join();
    EXPECT_TRUE(logContains("WARNING: Failed to send to socket.\n"));
}

}  // namespace
