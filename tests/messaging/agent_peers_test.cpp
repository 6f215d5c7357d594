// Message agents against peers that are busy, stuck or careless: bursts sent
// both ways at once, a peer that never reads, a message that stops half-way,
// and a host that closes its handle before deleting the agent.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/figures.h"
#include "core/platform/clock.h"
#include "core/platform/thread.h"
#include "messaging/wire_format.h"
#include "messaging_test_support.h"
#include "support/test_system.h"

using namespace MessagingTest;

namespace {

class AgentPeersTest : public DruxTest::LoggedTest {};

// Checks the CHATMESSAGE_TO_GAME messages that arrive against the order and
// size they were sent in: each payload starts with its sequence number.
struct SequenceChecker {
    static int32_t callback(void* self, int32_t type, const char* payload) {
        auto* checker = static_cast<SequenceChecker*>(self);
        if (type == VANTRELMESSAGETYPE_REPLY) checker->replies.fetch_add(1);
        if (type != VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME) return 1;
        const size_t length = payload != nullptr ? std::strlen(payload) : 0;
        const long expected = checker->count.load();
        if (length != checker->size || (length > 0 && std::strtol(payload, nullptr, 10) != expected))
            checker->faults.fetch_add(1);
        checker->count.fetch_add(1);
        return 1;
    }
    size_t size = 0;
    std::atomic<long> count{0}, faults{0}, replies{0};
    // Every message and every REPLY arrived: nothing waits to be sent any more.
    bool allIn(long expected) const { return count.load() >= expected && replies.load() >= expected; }
};

TEST_F(AgentPeersTest, SymmetricBurstsAreAllDeliveredInOrderBothWays) {
    // Each burst is well over what the loopback buffers hold, and under the
    // outgoing bound even if the peer drains none of it during the burst.
    const struct {
        size_t size;
        long count;
    } bursts[] = {{0, 20000}, {1000, 20000}, {64 * 1024, 256}, {1024 * 1024, 16}};
    for (const auto& burst : bursts) {
        SCOPED_TRACE(burst.size);
        const auto [left, right] = DruxTest::connectedPair();
        SequenceChecker toLeft, toRight;
        toLeft.size = toRight.size = burst.size;
        {
            RawPeerAgent a(left, {}), b(right, {});
            VantrelMessageAgent_SetMessageArrivedCallback(a.agent, &toLeft, &SequenceChecker::callback);
            VantrelMessageAgent_SetMessageArrivedCallback(b.agent, &toRight, &SequenceChecker::callback);
            auto sendAll = [&burst](VantrelMessageAgentHandle agent) {
                std::string payload;
                for (long i = 0; i < burst.count; ++i) {
                    if (burst.size > 0) (payload = std::to_string(i) + ":").resize(burst.size, 'x');
                    if (VantrelMessageAgent_SendMessage(agent, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME,
                                                        burst.size > 0 ? payload.c_str() : nullptr) != 1) {
                        ADD_FAILURE() << "send " << i << " refused";
                        return;
                    }
                }
            };
            std::thread fromA(sendAll, a.agent), fromB(sendAll, b.agent);
            fromA.join();
            fromB.join();
            EXPECT_TRUE(DruxTest::waitUntil([&] { return toLeft.allIn(burst.count) && toRight.allIn(burst.count); },
                                            std::chrono::seconds(120)))
                << toLeft.count.load() << " " << toRight.count.load();
            EXPECT_EQ(0, toLeft.faults.load() + toRight.faults.load());
        }
    }
    EXPECT_FALSE(logContains("stopped reading") || logContains("Failed to send"));
}

TEST_F(AgentPeersTest, ABurstIsParsedInOrderAndEachMessageIsAnsweredBeforeItIsDelivered) {
    // How many REPLY bytes the peer could read when each message was delivered.
    std::vector<size_t> waiting;
    const auto ends = DruxTest::connectedPair();
    RawPeerAgent peer(ends, [&waiting, remote = ends.first](int32_t, const char*) {
        waiting.push_back(DruxTest::bytesWaiting(remote));
    });
    // Payloads back to back (each one's terminator sits where the next header
    // begins), one that outgrows the first receive buffer, one longer than any,
    // messages that are not answered, and a last one split across sends.
    const std::vector<std::pair<int32_t, std::string>> burst{{11, ""},
                                                             {11, "a"},
                                                             {VANTRELMESSAGETYPE_REPLY, "r"},
                                                             {11, std::string(200, 'b')},
                                                             {12, std::string(20000, 'c')},
                                                             {11, "d"},
                                                             {11, std::string(200000, 'e')},
                                                             {VANTRELMESSAGETYPE_INVALID, ""},
                                                             {12, "f"},
                                                             {11, "split"}};
    std::string bytes, replies;
    for (const auto& [type, payload] : burst) bytes += messageBytes(type, payload);
    sendRaw(peer.remote, bytes.substr(0, bytes.size() - 3));
    sendRaw(peer.remote, bytes.substr(bytes.size() - 3));
    ASSERT_TRUE(peer.recorder.waitForCount(burst.size()));
    const std::vector<std::string> seen = peer.recorder.messages();
    for (size_t i = 0; i < burst.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& [type, payload] = burst[i];
        if (type != VANTRELMESSAGETYPE_REPLY && type != VANTRELMESSAGETYPE_INVALID) replies += kReply;
        EXPECT_EQ(std::to_string(type) + ":" + (payload.empty() ? "(null)" : payload), seen[i]);
        // Nothing reads the REPLYs meanwhile: all those sent so far wait.
        EXPECT_GE(waiting[i], replies.size());
    }
    EXPECT_EQ(replies, readAvailable(peer.remote));
}

TEST_F(AgentPeersTest, APeerThatNeverReadsIsCutOffAtTheBoundWhileOthersGoOn) {
    const auto [stuckLocal, stuckRemote] = DruxTest::connectedPair();
    const auto [left, right] = DruxTest::connectedPair();
    std::atomic<int> ended{0};
    {
        RawPeerAgent stuck(stuckLocal, [&ended] { ended.fetch_add(1); }), sender(left, {}), receiver(right, {});
        const std::string megabyte(1024 * 1024, 'm');
        size_t accepted = 0;
        int32_t result = 1;
        // The loop ends well before this many if the bound holds.
        for (int i = 0; i < 200 && result == 1; ++i) {
            result =
                VantrelMessageAgent_SendMessage(stuck.agent, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, megabyte.c_str());
            if (result == 1) accepted += 16 + megabyte.size();
        }
        EXPECT_EQ(0, result);
        // At least the bound was taken in before the cut (the socket held the rest).
        EXPECT_GE(accepted + 16 + megabyte.size(), Drux::kOutgoingQueueLimit);
        EXPECT_TRUE(logContains("WARNING: The peer of socket " + std::to_string(stuckLocal) +
                                " stopped reading: more than " + std::to_string(Drux::kOutgoingQueueLimit) +
                                " bytes would wait to be sent; closing the connection.\n"));
        // Our side closed it: the reading thread sees the end, once.
        EXPECT_TRUE(DruxTest::waitUntil([&] { return ended.load() == 1; }));
        EXPECT_EQ(0, stuck.agent->core->heartbeatActive.load());
        EXPECT_EQ(0, VantrelMessageAgent_SendMessage(stuck.agent, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "x"));

        for (const char* payload : {"0:x", "1:x", "2:x"})
            EXPECT_EQ(1, VantrelMessageAgent_SendMessage(sender.agent, 11, payload));
        ASSERT_TRUE(receiver.recorder.waitForCount(3));
        EXPECT_EQ(receiver.recorder.messages(), (std::vector<std::string>{"11:0:x", "11:1:x", "11:2:x"}));
    }
    // Stopping the agent is not an end of its connection.
    EXPECT_EQ(1, ended.load());
    EXPECT_TRUE(closedByPeer(stuckRemote));
    Drux::socketClose(stuckRemote);
}

TEST_F(AgentPeersTest, ALargestMessageToAReaderThatReadsSlowlyCostsTheWriterOnlyTheBytes) {
    // The writer waits for the socket to take more; a send that the system
    // refuses while the socket shows writable would make it spin instead.
    RawPeerAgent peer;
    const std::string payload(Drux::wire::kMaxPayloadBytes - 1, 'p');
    const size_t total = 16 + payload.size();
    const uint32_t self = Drux::currentThreadId();
    auto othersCpu = [self] {
        double sum = 0;
        for (const auto& [thread, ms] : DruxTest::threadCpuMilliseconds())
            if (thread != self) sum += ms;
        return sum;
    };
    const double cpuBefore = othersCpu();
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(1, VantrelMessageAgent_SendMessage(peer.agent, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, payload.c_str()));
    // Read in pieces with a pause after each: the writer finds the socket full
    // again and again.
    size_t received = 0;
    while (received < total) {
        const std::string piece = readBytes(peer.remote, std::min<size_t>(128 * 1024, total - received));
        if (piece.empty()) break;
        received += piece.size();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(total, received);
    const double elapsedMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    const double writerMs = othersCpu() - cpuBefore;
    std::printf("16 MiB to a slow reader: %.0f ms, the agent's threads used %.0f ms of processor time\n", elapsedMs,
                writerMs);
    // A spinning writer uses the processor the whole time the reader pauses.
    EXPECT_LT(writerMs, elapsedMs / 4);
}

TEST_F(AgentPeersTest, MemoryFollowsTheBytesAndAStalledMessageEndsAtTheSilenceLimit) {
    {
        // The largest announcement with one byte behind it takes a first
        // buffer, not the announced size; the buffer then grows with the bytes.
        RawPeerAgent peer;
        sendRaw(peer.remote, headerBytes(16, 1, 11, 16 * 1024 * 1024) + "a");
        ASSERT_TRUE(DruxTest::waitUntil([&] { return peer.agent->core->payloadCapacity.load() > 0; }));
        EXPECT_LE(peer.agent->core->payloadCapacity.load(), 64u * 1024);
        sendRaw(peer.remote, std::string(300 * 1024, 'b'));
        ASSERT_TRUE(DruxTest::waitUntil([&] { return peer.agent->core->payloadCapacity.load() > 300u * 1024; }));
        EXPECT_LE(peer.agent->core->payloadCapacity.load(), 1024u * 1024);
        // Bytes that keep coming, however slowly, keep the message alive: 200
        // seconds pass, but never 150 without a byte.
        Drux::testing::advanceClock(100 * 1000);
        sendRaw(peer.remote, "c");
        Drux::testing::advanceClock(100 * 1000);
        sendRaw(peer.remote, std::string(16 * 1024 * 1024 - 1 - 300 * 1024 - 1, 'd'));
        ASSERT_TRUE(peer.recorder.waitForCount(1));
        EXPECT_EQ(0u, peer.agent->core->payloadCapacity.load());
    }
    EXPECT_FALSE(logContains("stalled"));

    // A message that stops, within its header or its payload, ends its
    // connection once the silence limit has passed.
    for (const std::string& part : {messageBytes(11, "abc").substr(0, 15), messageBytes(11, "abcdef").substr(0, 18)}) {
        RawPeerAgent peer;
        sendRaw(peer.remote, part);
        ASSERT_TRUE(DruxTest::waitUntil([&] { return peer.agent->core->lastArrivalTick.load() != 0; }));
        Drux::testing::advanceClock(151 * 1000);
        EXPECT_TRUE(closedByPeer(peer.remote));
        EXPECT_TRUE(DruxTest::waitUntil([&] { return peer.agent->core->heartbeatActive.load() == 0; }));
        EXPECT_TRUE(logContains("WARNING: A message on socket " + std::to_string(peer.local) +
                                " stalled for more than 150 seconds; closing the connection.\n"));
        EXPECT_TRUE(peer.recorder.messages().empty());
    }
}

TEST_F(AgentPeersTest, AHostThatClosesItsHandleFirstNeitherDelaysTheDeletionNorLosesBytesToTheOldAgent) {
    const auto [oldLocal, oldRemote] = DruxTest::connectedPair();
    Recorder old;
    VantrelMessageAgentHandle agent = nullptr;
    VantrelMessageAgent_Create(&agent);
    VantrelMessageAgent_SetMessageArrivedCallback(agent, &old, &Recorder::callback);
    ASSERT_EQ(1, VantrelMessageAgent_Start(agent, oldLocal));
    ASSERT_TRUE(Drux::socketClose(oldLocal));

    // A new connection takes the number the host gave up.
    const auto [newLocal, newRemote] = DruxTest::connectedPair();
    if (!DruxTest::takeHandleNumber(newLocal, oldLocal)) {
        VantrelMessageAgent_Delete(&agent);
        GTEST_SKIP() << "this system cannot give a new connection the handle value of a closed one";
    }
    Drux::socketClose(newLocal);
    sendRaw(newRemote, "meant for the new owner");
    // The agent still serves its own connection ...
    sendRaw(oldRemote, messageBytes(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, "old"));
    ASSERT_TRUE(old.waitForCount(1));
    EXPECT_EQ(old.messages(), std::vector<std::string>{"8:old"});
    // ... and the new owner's bytes are all still there.
    EXPECT_EQ("meant for the new owner", readBytes(oldLocal, 23));

    EXPECT_EQ(1, VantrelMessageAgent_Delete(&agent));
    EXPECT_FALSE(logContains("shut down correctly"));
    // The agent closed its own handle, which ends the old connection.
    std::string before;
    EXPECT_TRUE(closedByPeer(oldRemote, 5000, &before));
    EXPECT_EQ(kReply, before);
    for (SocketHandle s : {oldLocal, oldRemote, newRemote}) Drux::socketClose(s);
}

}  // namespace
