// The bytes on the wire, header validation, the reply rule and the ways a
// connection ends, seen from a raw socket on the other end.
#include <sys/socket.h>

#include <atomic>
#include <thread>

#include "messaging/agent_internal.h"
#include "messaging_test_support.h"

using namespace MessagingTest;

namespace {

const std::string kReply = headerBytes(16, 1, 5, 0);

class WireFormatTest : public DruxTest::LoggedTest {};

TEST_F(WireFormatTest, SentMessagesAreHeaderAndPayloadInLittleEndianWithNothingElse) {
    RawPeerAgent peer;
    EXPECT_EQ(1, VantrelMessageAgent_SendMessage(peer.agent, VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, "abc"));
    EXPECT_EQ(1, VantrelMessageAgent_SendMessage(peer.agent, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, ""));
    EXPECT_EQ(1, VantrelMessageAgent_SendMessage(peer.agent, VANTRELMESSAGETYPE_CLOSE, nullptr));
    const std::string expected = std::string("\x10\0\0\0\x01\0\0\0\x08\0\0\0\x03\0\0\0abc", 19) +
                                 std::string("\x10\0\0\0\x01\0\0\0\x0b\0\0\0\0\0\0\0", 16) + messageBytes(3);
    EXPECT_EQ(expected, readAvailable(peer.sockets.remote));
    EXPECT_TRUE(logContains("INFO: SendMessage [VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED]\n"));
    EXPECT_TRUE(logContains("INFO: SendMessage [VANTRELMESSAGETYPE_CLOSE]\n"));
}

TEST_F(WireFormatTest, ReceivedMessageIsRepliedToBeforeItIsLoggedAndDelivered) {
    RawPeerAgent peer;
    struct Observed {
        std::string logPath;
        SocketHandle remote;
        bool replyWaiting = false;
        bool lineLogged = false;
        std::string delivered;
        std::atomic<bool> done{false};
    } observed{logPath(), peer.sockets.remote, false, false, {}, {false}};
    VantrelMessageAgent_SetMessageArrivedCallback(peer.agent, &observed, [](void* data, int32_t type, const char* payload) {
        auto* o = static_cast<Observed*>(data);
        Drux::Interrupter never;
        o->replyWaiting = Drux::waitReadable(o->remote, never, 0) == Drux::WaitResult::Readable;
        o->lineLogged = DruxTest::readFile(o->logPath).find(
                            "INFO: ReceiveMessage [VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED]\n") != std::string::npos;
        o->delivered = std::to_string(type) + ":" + (payload ? payload : "(null)");
        o->done.store(true);
        return 1;
    });
    sendRaw(peer.sockets.remote, messageBytes(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, "abc"));
    ASSERT_TRUE(DruxTest::waitUntil([&] { return observed.done.load(); }));
    EXPECT_EQ("8:abc", observed.delivered);
    EXPECT_TRUE(observed.replyWaiting);
    EXPECT_TRUE(observed.lineLogged);
    EXPECT_EQ(kReply, readAvailable(peer.sockets.remote));
    EXPECT_FALSE(logContains("SendMessage [VANTRELMESSAGETYPE_REPLY]"));
}

TEST_F(WireFormatTest, HeartbeatIsAnsweredUnloggedAndReplyIsNeverAnswered) {
    RawPeerAgent peer;
    sendRaw(peer.sockets.remote, messageBytes(VANTRELMESSAGETYPE_HEARTBEAT) + messageBytes(VANTRELMESSAGETYPE_REPLY));
    ASSERT_TRUE(peer.recorder.waitForCount(2));
    EXPECT_EQ(kReply, readAvailable(peer.sockets.remote));
    EXPECT_FALSE(logContains("ReceiveMessage"));
    EXPECT_FALSE(logContains("SendMessage"));
}

TEST_F(WireFormatTest, HeaderArrivingInPiecesIsAssembled) {
    RawPeerAgent peer;
    const std::string message = messageBytes(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "hello");
    sendRaw(peer.sockets.remote, message.substr(0, 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sendRaw(peer.sockets.remote, message.substr(10, 6));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sendRaw(peer.sockets.remote, message.substr(16));
    ASSERT_TRUE(peer.recorder.waitForCount(1));
    EXPECT_EQ(11, peer.recorder.messages()[0].type);
    EXPECT_EQ("hello", peer.recorder.messages()[0].payload.value_or("(null)"));
    EXPECT_EQ(kReply, readAvailable(peer.sockets.remote));
}

// Each invalid header is followed by a HEARTBEAT: once both are delivered,
// the replies that arrived tell which messages were answered.
struct InvalidHeaderCase {
    std::string bytes;
    std::vector<std::string> warnings;
    int32_t deliveredType;
    std::optional<std::string> payload;
    size_t replies;
};

TEST_F(WireFormatTest, InvalidHeadersAreWarnedDeliveredAsInvalidAndNotAnswered) {
    const std::string size = "WARNING: Invalid message header size on incoming message.\n";
    const std::string version = "WARNING: Invalid version on incoming message.\n";
    const std::string type = "WARNING: Invalid message type.\n";
    const std::vector<InvalidHeaderCase> cases = {
        {headerBytes(20, 1, 8, 3) + "xyz", {size, type}, 38, "xyz", 1},
        {headerBytes(16, 2, 8, 0), {version, type}, 38, std::nullopt, 1},
        {headerBytes(16, 1, 38, 0), {type}, 38, std::nullopt, 1},
        {headerBytes(16, 1, 1000, 2) + "zz", {type}, 38, "zz", 1},
        {headerBytes(16, 1, 8, -5), {}, 8, std::nullopt, 2},
    };
    for (const InvalidHeaderCase& c : cases) {
        SCOPED_TRACE(c.deliveredType);
        const size_t linesBefore = logLines().size();
        RawPeerAgent peer;
        sendRaw(peer.sockets.remote, c.bytes + messageBytes(VANTRELMESSAGETYPE_HEARTBEAT));
        ASSERT_TRUE(peer.recorder.waitForCount(2));
        const auto messages = peer.recorder.messages();
        EXPECT_EQ(c.deliveredType, messages[0].type);
        EXPECT_EQ(c.payload, messages[0].payload);
        EXPECT_EQ(VANTRELMESSAGETYPE_HEARTBEAT, messages[1].type);
        std::string replies;
        for (size_t i = 0; i < c.replies; ++i) replies += kReply;
        EXPECT_EQ(replies, readAvailable(peer.sockets.remote));
        const auto lines = logLines();
        const std::vector<std::string> newLines(lines.begin() + static_cast<long>(linesBefore), lines.end());
        EXPECT_EQ(c.warnings, linesAmong(newLines, {size, version, type}));
    }
}

TEST_F(WireFormatTest, OversizedPayloadAnnouncementEndsTheConnectionWithoutAllocating) {
    RawPeerAgent peer;
    sendRaw(peer.sockets.remote, headerBytes(16, 1, 11, 16 * 1024 * 1024 + 1));
    ASSERT_TRUE(DruxTest::waitUntil([&] { return peer.heartbeatActive() == 0; }));
    EXPECT_TRUE(logContains(
        "WARNING: Message payload of 16777217 bytes exceeds the 16 MiB limit; closing the connection.\n"));
    EXPECT_EQ(1, peer.isRunning());
    EXPECT_EQ(0u, peer.recorder.count());
}

TEST_F(WireFormatTest, PayloadAtTheLimitIsCarried) {
    RawPeerAgent peer;
    const std::string payload(16 * 1024 * 1024, 'q');
    std::thread sender([&] { sendRaw(peer.sockets.remote, messageBytes(11, payload)); });
    ASSERT_TRUE(peer.recorder.waitForCount(1, 20000));
    sender.join();
    EXPECT_EQ(payload, peer.recorder.messages()[0].payload.value_or(""));
    // The sender refuses what a receiver would refuse.
    const std::string tooLong(16 * 1024 * 1024 + 1, 'q');
    EXPECT_EQ(0, VantrelMessageAgent_SendMessage(peer.agent, 11, tooLong.c_str()));
    EXPECT_TRUE(logContains("ERROR: Message payload exceeds the 16777216 byte limit; the message was not sent.\n"));
    EXPECT_EQ(headerBytes(16, 1, 5, 0), readAvailable(peer.sockets.remote));  // the reply only
}

TEST_F(WireFormatTest, ConnectionEndingMidMessageDeliversNothingAndStopsHeartbeats) {
    const std::string closed = "WARNING: Received 0 bytes on Vantrel socket when data was expected.\n";
    const std::string reset =
        "WARNING: Failed to read from Vantrel socket buffer (this may indicate that the other side of the "
        "connection has closed).\n";
    {
        RawPeerAgent peer;  // closed between two messages
        Drux::socketShutdown(peer.sockets.remote);
        ASSERT_TRUE(DruxTest::waitUntil([&] { return peer.heartbeatActive() == 0; }));
        EXPECT_EQ(1, peer.isRunning());
    }
    EXPECT_TRUE(logContains(closed));
    for (const std::string& partial : {messageBytes(11, "abc").substr(0, 9), messageBytes(11, "abcdef").substr(0, 19)}) {
        RawPeerAgent peer;
        sendRaw(peer.sockets.remote, partial);
        Drux::socketShutdown(peer.sockets.remote);
        ASSERT_TRUE(DruxTest::waitUntil([&] { return peer.heartbeatActive() == 0; }));
        EXPECT_EQ(0u, peer.recorder.count());
    }
    {
        RawPeerAgent peer;  // reset by the peer
        const struct linger abort = {1, 0};
        ASSERT_EQ(0, setsockopt(peer.sockets.remote, SOL_SOCKET, SO_LINGER, &abort, sizeof abort));
        Drux::socketClose(peer.sockets.remote);
        peer.sockets.remote = Drux::socketCreate();  // closed again by the destructor
        ASSERT_TRUE(DruxTest::waitUntil([&] { return peer.heartbeatActive() == 0; }));
    }
    EXPECT_TRUE(logContains(reset));
    EXPECT_TRUE(logContains("INFO: [VantrelMessageAgent_ReadFromSocketInternal] "));
}

}  // namespace
