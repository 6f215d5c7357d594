// The message agent's life, its heartbeat schedule (on a moved clock) and
// sending from several threads at once.
#include <boost/weak_ptr.hpp>
#include <atomic>
#include <thread>

#include "core/figures.h"
#include "core/platform/clock.h"
#include "messaging/agent_internal.h"
#include "messaging_test_support.h"

using namespace MessagingTest;

namespace {

const std::string kHeartbeat = headerBytes(16, 1, 4, 0);

class MessageAgentTest : public DruxTest::LoggedTest {};

// One message through, so that the reading thread has entered its loop and is
// back in its receive.
void settle(RawPeerAgent& peer) {
    sendRaw(peer.sockets.remote, messageBytes(VANTRELMESSAGETYPE_HEARTBEAT));
    ASSERT_EQ(headerBytes(16, 1, 5, 0), readBytes(peer.sockets.remote, 16));
    ASSERT_TRUE(peer.recorder.waitForCount(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

TEST_F(MessageAgentTest, RefusedStartsAndSendsLeaveTheAgentAsItWas) {
    VantrelMessageAgentHandle idle = nullptr;
    ASSERT_EQ(1, VantrelMessageAgent_Create(&idle));
    const size_t linesAfterCreate = logLines().size();
    EXPECT_EQ(0, VantrelMessageAgent_SendMessage(idle, VANTRELMESSAGETYPE_CLOSE, nullptr));
    EXPECT_TRUE(logContains("ERROR: Cannot send messages when the MessageAgent isn't started.\n"));
    EXPECT_EQ(0, VantrelMessageAgent_Start(idle, 0));
    EXPECT_TRUE(logContains("ERROR: Socket cannot be null.\n"));
    int32_t running = -1, active = -1;
    VantrelMessageAgent_GetIsRunning(idle, &running);
    VantrelMessageAgent_GetHeartbeatActive(idle, &active);
    EXPECT_EQ(0, running);
    EXPECT_EQ(1, active);
    const size_t linesBeforeDelete = logLines().size();
    EXPECT_EQ(1, VantrelMessageAgent_Delete(&idle));
    EXPECT_EQ(nullptr, idle);
    EXPECT_EQ(linesBeforeDelete, logLines().size());
    EXPECT_EQ(linesAfterCreate + 2, linesBeforeDelete);  // only the two lines above

    RawPeerAgent peer;
    EXPECT_EQ(0, VantrelMessageAgent_Start(peer.agent, peer.sockets.local));
    EXPECT_TRUE(logContains("ERROR: This MessageAgent is already started.\n"));
    EXPECT_EQ(1, VantrelMessageAgent_SendMessage(peer.agent, VANTRELMESSAGETYPE_CLOSE, nullptr));
    EXPECT_EQ(messageBytes(VANTRELMESSAGETYPE_CLOSE), readAvailable(peer.sockets.remote));
}

TEST_F(MessageAgentTest, NullHandlesAreRefusedWithALine) {
    VantrelMessageAgentHandle none = nullptr;
    int32_t value = 0;
    EXPECT_EQ(0, VantrelMessageAgent_Create(nullptr));
    EXPECT_EQ(0, VantrelMessageAgent_SetMessageArrivedCallback(nullptr, nullptr, nullptr));
    EXPECT_EQ(0, VantrelMessageAgent_Start(nullptr, 5));
    EXPECT_EQ(0, VantrelMessageAgent_SendMessage(nullptr, 3, "x"));
    EXPECT_EQ(0, VantrelMessageAgent_SetHeartbeatActive(nullptr, 1));
    EXPECT_EQ(0, VantrelMessageAgent_GetHeartbeatActive(nullptr, &value));
    EXPECT_EQ(0, VantrelMessageAgent_GetIsRunning(nullptr, &value));
    EXPECT_EQ(0, VantrelMessageAgent_Delete(&none));
    EXPECT_EQ(0, VantrelMessageAgent_Delete(nullptr));
    EXPECT_TRUE(logContains("ERROR: VantrelMessageAgent_SendMessage was called without a MessageAgent.\n"));
    EXPECT_TRUE(logContains("ERROR: VantrelMessageAgent_Delete was called without a MessageAgent.\n"));
    EXPECT_EQ(9u, logLines().size() - 1);  // one ERROR line each, after the log's first line
}

TEST_F(MessageAgentTest, MessageWithoutCallbackIsAnsweredWarnedAndDropped) {
    RawPeerAgent peer(false);
    sendRaw(peer.sockets.remote, messageBytes(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "hi"));
    EXPECT_EQ(headerBytes(16, 1, 5, 0), readBytes(peer.sockets.remote, 16));
    EXPECT_TRUE(DruxTest::waitUntil(
        [&] { return logContains("WARNING: Message arived, but there is no MessageArrivedCallback.\n"); }));
    EXPECT_FALSE(logContains("ReceiveMessage"));
}

TEST_F(MessageAgentTest, HeartbeatsLeaveEveryIntervalOfTheClockAndOnlyWhileTheFlagIsOne) {
    RawPeerAgent peer;
    // Whole seconds are compared, so 23.5 s is short of the interval whatever
    // the sub-second phase, and 2 s more always completes it.
    Drux::testing::advanceClock(23500);
    EXPECT_EQ("", readAvailable(peer.sockets.remote, 100));
    Drux::testing::advanceClock(2000);
    EXPECT_EQ(kHeartbeat, readBytes(peer.sockets.remote, 16));
    Drux::testing::advanceClock(23500);
    EXPECT_EQ("", readAvailable(peer.sockets.remote, 100));
    Drux::testing::advanceClock(2000);
    EXPECT_EQ(kHeartbeat, readBytes(peer.sockets.remote, 16));

    // Only 1 lets heartbeats out; the stamp stands still meanwhile, so the
    // heartbeat is due at once when the flag is 1 again.
    EXPECT_EQ(1, VantrelMessageAgent_SetHeartbeatActive(peer.agent, 2));
    EXPECT_EQ(2, peer.heartbeatActive());
    Drux::testing::advanceClock(60000);
    EXPECT_EQ("", readAvailable(peer.sockets.remote, 100));
    VantrelMessageAgent_SetHeartbeatActive(peer.agent, 1);
    EXPECT_EQ(kHeartbeat, readBytes(peer.sockets.remote, 16));
    EXPECT_EQ("", readAvailable(peer.sockets.remote, 100));
    EXPECT_FALSE(logContains("SendMessage"));
}

TEST_F(MessageAgentTest, FailedHeartbeatStillAdvancesTheStamp) {
    RawPeerAgent peer;
    Drux::socketShutdown(peer.sockets.local);  // every send now fails; the reader ends
    ASSERT_TRUE(DruxTest::waitUntil([&] { return peer.heartbeatActive() == 0; }));
    VantrelMessageAgent_SetHeartbeatActive(peer.agent, 1);  // heartbeats on the dead connection
    Drux::testing::advanceClock(26000);
    ASSERT_TRUE(DruxTest::waitUntil([&] { return logContains("WARNING: Failed to send to socket.\n"); }));
    const auto countFailures = [&] {
        return linesAmong(logLines(), {"WARNING: Failed to send to socket.\n"}).size();
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(1u, countFailures());  // no retry before the next interval
    Drux::testing::advanceClock(26000);
    EXPECT_TRUE(DruxTest::waitUntil([&] { return countFailures() == 2; }));
}

TEST_F(MessageAgentTest, ConcurrentSendersNeverInterleaveAndCallbacksMaySend) {
    SocketPair sockets = connectedPair();
    VantrelMessageAgentHandle sender = nullptr, receiver = nullptr;
    Recorder atSender;
    struct Echo {
        VantrelMessageAgentHandle* agent;
        Recorder recorder;
    } echo{&receiver, {}};
    VantrelMessageAgent_Create(&sender);
    VantrelMessageAgent_Create(&receiver);
    VantrelMessageAgent_SetMessageArrivedCallback(sender, &atSender, &Recorder::callback);
    VantrelMessageAgent_SetMessageArrivedCallback(receiver, &echo, [](void* data, int32_t type, const char* payload) {
        auto* e = static_cast<Echo*>(data);
        Recorder::callback(&e->recorder, type, payload);
        // Sending from inside the callback, on the same agent, must not block.
        if (type == VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME && payload != nullptr && payload[0] == 'E')
            VantrelMessageAgent_SendMessage(*e->agent, VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME, "echo");
        return 1;
    });
    ASSERT_EQ(1, VantrelMessageAgent_Start(sender, sockets.local));
    ASSERT_EQ(1, VantrelMessageAgent_Start(receiver, sockets.remote));

    constexpr int kThreads = 4, kPerThread = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Each thread's payloads have their own letter and length.
            const std::string payload(static_cast<size_t>(3000 + 7000 * t), static_cast<char>('a' + t));
            for (int i = 0; i < kPerThread; ++i)
                EXPECT_EQ(1, VantrelMessageAgent_SendMessage(sender, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME,
                                                             payload.c_str()));
        });
    }
    for (auto& thread : threads) thread.join();
    VantrelMessageAgent_SendMessage(sender, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "E");
    VantrelMessageAgent_SendMessage(sender, VANTRELMESSAGETYPE_GAMECLIENT_STOPPED, "");
    ASSERT_TRUE(echo.recorder.waitForCount(kThreads * kPerThread + 2, 20000));

    int perLetter[kThreads] = {};
    for (const auto& message : echo.recorder.messages()) {
        if (message.type == VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME && message.payload != std::string("E")) {
            ASSERT_TRUE(message.payload.has_value());
            const int t = message.payload->front() - 'a';
            ASSERT_TRUE(t >= 0 && t < kThreads);
            EXPECT_EQ(std::string(static_cast<size_t>(3000 + 7000 * t), static_cast<char>('a' + t)), *message.payload);
            ++perLetter[t];
        }
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(kPerThread, perLetter[t]);
    bool stopped = false;
    for (const auto& message : echo.recorder.messages())
        if (message.type == VANTRELMESSAGETYPE_GAMECLIENT_STOPPED) {
            stopped = true;
            EXPECT_FALSE(message.payload.has_value());  // an empty string arrives as no payload
        }
    EXPECT_TRUE(stopped);

    // A reply for each of the sender's messages, and the echo.
    ASSERT_TRUE(atSender.waitForCount(kThreads * kPerThread + 3, 20000));
    bool echoed = false;
    for (const auto& message : atSender.messages())
        echoed = echoed || (message.type == VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME && message.payload == "echo");
    EXPECT_TRUE(echoed);
    EXPECT_FALSE(logContains("Invalid"));

    for (SocketHandle s : {sockets.local, sockets.remote}) Drux::socketShutdown(s);
    VantrelMessageAgent_Delete(&sender);
    VantrelMessageAgent_Delete(&receiver);
    for (SocketHandle s : {sockets.local, sockets.remote}) Drux::socketClose(s);
}

TEST_F(MessageAgentTest, DeletionIsPromptAfterShutdownAndBoundedWithout) {
    {
        RawPeerAgent peer;
        settle(peer);
        Drux::socketShutdown(peer.sockets.local);
        const auto start = std::chrono::steady_clock::now();
        VantrelMessageAgent_Delete(&peer.agent);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
        EXPECT_FALSE(logContains("failed to shut down"));
        EXPECT_TRUE(logContains("WARNING: Received 0 bytes on Vantrel socket when data was expected.\n"));
    }
    // An owner that deletes without shutting the socket down leaves the reader
    // blocked: deletion gives up after the wait and the reader, which still
    // holds the agent's state, ends later when the socket is shut.
    Drux::testing::figures().threadShutdownWaitMs = 50;
    RawPeerAgent peer;
    settle(peer);
    const boost::weak_ptr<Drux::AgentCore> state = peer.agent->core;
    VantrelMessageAgent_Delete(&peer.agent);
    EXPECT_TRUE(logContains("WARNING: SocketThread failed to shut down correctly.\n"));
    EXPECT_FALSE(logContains("HeartbeatThread failed"));
    EXPECT_FALSE(state.expired());
    sendRaw(peer.sockets.remote, messageBytes(VANTRELMESSAGETYPE_CLOSE));  // dropped: not running
    EXPECT_TRUE(DruxTest::waitUntil([&] { return state.expired(); }));
    EXPECT_EQ("", readAvailable(peer.sockets.remote, 100));
}

}  // namespace
