// Failures injected at the platform seam: each is told in the log (or retried,
// as the system's own would be) and the library goes on working.

#include "core/platform/fault_injection.h"
#include "messaging/server_internal.h"
#include "messaging_test_support.h"
#include "core/platform/system_error.h"
#include "support/test_system.h"

using namespace MessagingTest;
using Drux::Fault;

namespace {

// Bytes go on the wire with a plain send, not the library's, so that an armed
// fault is used by the code under test only.
class FaultInjectionTest : public ServerFixture {
protected:
    void TearDown() override {
        Drux::testing::clearFaults();
        ServerFixture::TearDown();
    }
};

TEST_F(FaultInjectionTest, ARefusedAcceptIsLoggedAndTheNextAcceptTakesTheConnection) {
    const uint16_t port = startServer();
    Drux::testing::failNext(Fault::Accept, 2);
    const SocketHandle client = connectClient(port);
    ASSERT_TRUE(DruxTest::sendPlain(client, messageBytes(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "hi")));
    EXPECT_EQ(kReply, readBytes(client, kReply.size()));
    ASSERT_TRUE(recorder.waitForCount(1));
    EXPECT_EQ(0u, Drux::testing::faultsLeft(Fault::Accept));
    EXPECT_EQ(2u, logCount("WARNING: Failed to accept a connection; the server goes on listening.\n"));
}

TEST_F(FaultInjectionTest, AThreadThatCannotStartFailsTheAgentStartAndALaterStartWorks) {
    RawPeerAgent peer;  // a running agent gives the connection
    VantrelMessageAgentHandle agent = nullptr;
    VantrelMessageAgent_Create(&agent);
    VantrelMessageAgent_SetMessageArrivedCallback(agent, &recorder, &Recorder::callback);
    Drux::testing::failNext(Fault::ThreadStart, 1);
    EXPECT_EQ(0, VantrelMessageAgent_Start(agent, peer.remote));
    Drux::restoreLastError(Drux::SystemError{DruxTest::threadStartFailureCode()});
    EXPECT_TRUE(logContains("INFO: [VantrelMessageAgent_Start] " + Drux::lastErrorText() +
                            "ERROR: Failed to start client socket thread.\n"));
    int32_t running = 7;
    VantrelMessageAgent_GetIsRunning(agent, &running);
    EXPECT_EQ(0, running);
    ASSERT_EQ(1, VantrelMessageAgent_Start(agent, peer.remote));
    EXPECT_EQ(1, VantrelMessageAgent_SendMessage(peer.agent, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "late"));
    ASSERT_TRUE(recorder.waitForCount(1));
    EXPECT_EQ(std::vector<std::string>{"11:late"}, recorder.messages());
    Drux::socketShutdown(peer.remote);
    VantrelMessageAgent_Delete(&agent);
}

// A send that the system takes in pieces, and sends and receives interrupted
// by a signal, still carry every message whole.
TEST_F(FaultInjectionTest, ShortSendsAndInterruptedCallsStillCarryWholeMessages) {
    RawPeerAgent peer;
    const std::string payload(1000, 'w');
    Drux::testing::failNext(Fault::ShortSend, 3);
    ASSERT_EQ(1, VantrelMessageAgent_SendMessage(peer.agent, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, payload.c_str()));
    // What the socket did not take waits in the queue for the writer, whose
    // later sends are short too.
    EXPECT_EQ(messageBytes(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, payload), readBytes(peer.remote, 1016));
    EXPECT_EQ(0u, Drux::testing::faultsLeft(Fault::ShortSend));

    Drux::testing::failNext(Fault::Interrupted, 1);
    ASSERT_EQ(1, VantrelMessageAgent_SendMessage(peer.agent, VANTRELMESSAGETYPE_CLOSE, nullptr));
    EXPECT_EQ(0u, Drux::testing::faultsLeft(Fault::Interrupted));
    EXPECT_EQ(messageBytes(VANTRELMESSAGETYPE_CLOSE), readBytes(peer.remote, 16));

    // The reader waits for the socket already; its receive of the message
    // is interrupted and made again.
    Drux::testing::failNext(Fault::Interrupted, 1);
    ASSERT_TRUE(DruxTest::sendPlain(peer.remote, messageBytes(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "whole")));
    ASSERT_TRUE(peer.recorder.waitForCount(1));
    EXPECT_EQ(0u, Drux::testing::faultsLeft(Fault::Interrupted));
    EXPECT_EQ(std::vector<std::string>{"11:whole"}, peer.recorder.messages());
    EXPECT_EQ(kReply, readBytes(peer.remote, kReply.size()));
    EXPECT_FALSE(logContains("Failed to send") || logContains("Received 0 bytes"));
}

TEST_F(FaultInjectionTest, AFailedPayloadAllocationEndsThatConnectionOnly) {
    const uint16_t port = startServer();
    // A payload that outgrows the connection's first receive buffer, and one
    // longer than any receive buffer, which gets a buffer of its own.
    for (const size_t length : {size_t{20000}, size_t{200000}}) {
        SCOPED_TRACE(length);
        const SocketHandle lost = connectClient(port);
        Drux::testing::failNext(Fault::Allocation, 1);
        ASSERT_TRUE(
            DruxTest::sendPlain(lost, messageBytes(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, std::string(length, 'l'))));
        const std::string line = "WARNING: Unable to obtain " + std::to_string(length) +
                                 " bytes for a message payload; closing the connection.\n";
        ASSERT_TRUE(DruxTest::waitUntil([&] { return logContains(line) && listed() == 0; }));
    }
    const SocketHandle kept = connectClient(port);
    ASSERT_TRUE(DruxTest::sendPlain(kept, messageBytes(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "kept")));
    EXPECT_EQ(kReply, readBytes(kept, kReply.size()));
    ASSERT_TRUE(recorder.waitForCount(1));
    EXPECT_EQ(std::vector<std::string>{"11:kept"}, recorder.messages());
}

}  // namespace
