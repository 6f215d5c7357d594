// The socket operations that message agents are built on: what a receive, a
// gather send and a wait report in each state of a connection, a duplicate
// handle that outlives the original, a shutdown that wakes a blocked reader,
// and binding past a closed connection's wait.
#include <atomic>
#include <string>
#include <thread>
#include <tuple>

#include "core/platform/interrupter.h"
#include "core/platform/socket.h"
#include "core/platform/thread.h"
#include "support/test_support.h"
#include "support/test_system.h"

namespace {

using Drux::IoResult;
using Drux::SocketWait;
using Drux::waitSocket;

// A connection whose accepted end (ours) is prepared as an agent's is.
struct Pair {
    Drux::SocketHandle theirs, ours;
    Pair() {
        std::tie(theirs, ours) = DruxTest::connectedPair();
        EXPECT_TRUE(Drux::socketSetNonBlocking(ours) && Drux::socketSetNoDelay(ours));
    }
    ~Pair() {
        Drux::socketClose(ours);
        Drux::socketClose(theirs);
    }
};

TEST(SocketReadiness, ReceiveAndWaitReportEachStateOfAConnection) {
    Pair p;
    Drux::Interrupter interrupter;
    char buffer[16];
    size_t received = 99;
    unsigned ready = 0;
    EXPECT_EQ(IoResult::WouldBlock, Drux::socketReceiveSome(p.ours, buffer, sizeof buffer, &received));
    EXPECT_EQ(0u, received);
    EXPECT_EQ(SocketWait::TimedOut, waitSocket(p.ours, Drux::kSocketReadable, interrupter, 0, &ready));

    size_t sent = 0;
    ASSERT_TRUE(DruxTest::sendSome(p.theirs, "hey", 3, &sent) && sent == 3);
    EXPECT_EQ(SocketWait::Ready, waitSocket(p.ours, Drux::kSocketReadable, interrupter, -1, &ready));
    EXPECT_TRUE(ready & Drux::kSocketReadable);
    EXPECT_EQ(IoResult::Done, Drux::socketReceiveSome(p.ours, buffer, sizeof buffer, &received));
    EXPECT_EQ("hey", std::string(buffer, received));

    // A receive that waits by itself takes bytes that come while it waits,
    // and ends with WouldBlock once its time has passed. Windows agent
    // handles are non-blocking, so there it never waits.
    const bool canWait = Drux::socketSetReceiveWait(p.ours, 60 * 1000);
#ifndef _WIN32
    EXPECT_TRUE(canWait);
#endif
    if (canWait) {
        const long self = Drux::currentThreadId();
        std::thread sender([&] {
            if (DruxTest::waitUntil([&] { return DruxTest::threadBlockedInReceive(self); }))
                DruxTest::sendSome(p.theirs, "you", 3, &sent);
        });
        EXPECT_EQ(IoResult::Done, Drux::socketReceiveWaiting(p.ours, buffer, sizeof buffer, &received));
        sender.join();
        EXPECT_EQ("you", std::string(buffer, received));
        ASSERT_TRUE(Drux::socketSetReceiveWait(p.ours, 1));
        EXPECT_EQ(IoResult::WouldBlock, Drux::socketReceiveWaiting(p.ours, buffer, sizeof buffer, &received));
    }

    // Signalled, the interrupter ends every wait until it is reset; resetting
    // twice changes nothing, and a later signal wakes a wait again.
    for (int round = 0; round < 2; ++round) {
        interrupter.signal();
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(SocketWait::Interrupted, waitSocket(p.ours, Drux::kSocketReadable, interrupter, -1, &ready));
        interrupter.reset();
        interrupter.reset();
        EXPECT_EQ(SocketWait::TimedOut, waitSocket(p.ours, Drux::kSocketReadable, interrupter, 0, &ready));
    }

    // The peer's orderly close. (A reset is told apart from it in the agent's
    // tests, MessageAgentTest.ConnectionEnding..., by its own log line.)
    Drux::socketShutdown(p.theirs);
    EXPECT_EQ(SocketWait::Ready, waitSocket(p.ours, Drux::kSocketReadable, interrupter, -1, &ready));
    EXPECT_EQ(IoResult::Closed, Drux::socketReceiveSome(p.ours, buffer, sizeof buffer, &received));
    if (canWait) {
        EXPECT_EQ(IoResult::Closed, Drux::socketReceiveWaiting(p.ours, buffer, sizeof buffer, &received));
    }
}

TEST(SocketReadiness, GatherSendsKeepOrderStopWhenTheBufferIsFullAndADuplicateOutlivesTheOriginal) {
    Pair p;
    Drux::Interrupter interrupter;
    const Drux::ByteSpan parts[] = {{"ab", 2}, {"", 0}, {"cd", 2}};
    size_t sent = 0;
    EXPECT_EQ(IoResult::Done, Drux::socketSendSome(p.ours, parts, 3, &sent));
    EXPECT_EQ(4u, sent);
    char buffer[64 * 1024];
    size_t received = 0;
    ASSERT_TRUE(DruxTest::receiveSome(p.theirs, buffer, sizeof buffer, &received));
    EXPECT_EQ("abcd", std::string(buffer, received));

    // Nobody reads: the send buffer fills and the socket stops being writable.
    const Drux::ByteSpan chunk = {buffer, sizeof buffer};
    size_t queued = 0;
    IoResult result = IoResult::Done;
    for (int i = 0; i < 10000 && result == IoResult::Done; ++i) {
        result = Drux::socketSendSome(p.ours, &chunk, 1, &sent);
        queued += sent;
    }
    ASSERT_EQ(IoResult::WouldBlock, result);
    EXPECT_EQ(0u, sent);
    unsigned ready = 0;
    EXPECT_EQ(SocketWait::TimedOut, waitSocket(p.ours, Drux::kSocketWritable, interrupter, 0, &ready));
    for (size_t drained = 0; drained < queued; drained += received)
        ASSERT_TRUE(DruxTest::receiveSome(p.theirs, buffer, sizeof buffer, &received) && received > 0);
    EXPECT_EQ(SocketWait::Ready, waitSocket(p.ours, Drux::kSocketWritable, interrupter, -1, &ready));
    EXPECT_TRUE(ready & Drux::kSocketWritable);

    // The duplicate serves the connection after the original is closed.
    const Drux::SocketHandle duplicate = Drux::socketDuplicate(p.ours);
    ASSERT_NE(Drux::kInvalidSocket, duplicate);
    ASSERT_NE(p.ours, duplicate);
    Drux::socketClose(p.ours);
    p.ours = Drux::socketCreate();
    const Drux::ByteSpan word = {"still", 5};
    EXPECT_EQ(IoResult::Done, Drux::socketSendSome(duplicate, &word, 1, &sent));
    ASSERT_TRUE(DruxTest::receiveSome(p.theirs, buffer, sizeof buffer, &received));
    EXPECT_EQ("still", std::string(buffer, received));

    // A send on a connection the peer has left fails; it raises no SIGPIPE.
    Drux::socketClose(p.theirs);
    p.theirs = Drux::socketCreate();
    EXPECT_EQ(SocketWait::Ready, waitSocket(duplicate, Drux::kSocketReadable, interrupter, -1, &ready));
    result = IoResult::Done;
    for (int i = 0; i < 100 && result == IoResult::Done; ++i) result = Drux::socketSendSome(duplicate, &word, 1, &sent);
    EXPECT_EQ(IoResult::Failed, result);
    Drux::socketClose(duplicate);
}

TEST(Sockets, ShutdownWakesABlockedReaderAndLaterSendsFailWithoutSigpipe) {
    Pair c;
    std::atomic<int> received{-1};
    std::atomic<long> readerId{0};
    std::thread reader([&] {
        readerId = Drux::currentThreadId();
        char buffer[8];
        size_t count = 99;
        DruxTest::receiveSome(c.theirs, buffer, sizeof buffer, &count);
        received = static_cast<int>(count);
    });
    // The reader is inside its receive before the shutdown comes.
    ASSERT_TRUE(
        DruxTest::waitUntil([&] { return readerId.load() != 0 && DruxTest::threadBlockedInReceive(readerId); }));
    EXPECT_EQ(received.load(), -1);
    EXPECT_TRUE(Drux::socketShutdown(c.theirs));
    EXPECT_TRUE(DruxTest::waitUntil([&] { return received.load() != -1; }, std::chrono::milliseconds(2000)));
    reader.join();
    EXPECT_EQ(received.load(), 0);
    // Still alive afterwards: no SIGPIPE was raised.
    size_t sent = 0;
    EXPECT_FALSE(DruxTest::sendSome(c.theirs, "data", 4, &sent));
    EXPECT_EQ(Drux::lastSocketError(), DruxTest::sendAfterShutdownError());
}

TEST(Sockets, AnAcceptedConnectionClosesAfterItsLastBytesAndItsPortBindsAgainAtOnce) {
    for (const bool peerReads : {true, false}) {
        SCOPED_TRACE(peerReads ? "a peer that reads to the end, then closes" : "a peer that neither reads nor closes");
        const auto [theirs, ours] = DruxTest::connectedPair();
        const uint16_t port = Drux::socketLocalPort(ours);
        const std::string bytes(peerReads ? 1024 * 1024 : 1, 'b');
        std::atomic<size_t> read{0};
        std::atomic<bool> orderlyEnd{false};
        std::thread peer;
        if (peerReads)
            peer = std::thread([&, theirs = theirs] {
                char buffer[65536];
                size_t got = 0;
                while (DruxTest::receiveSome(theirs, buffer, sizeof buffer, &got) && got > 0) read += got;
                orderlyEnd = got == 0;
                Drux::socketClose(theirs);
            });
        for (size_t done = 0, sent = 0; done < bytes.size(); done += sent)
            ASSERT_TRUE(DruxTest::sendSome(ours, bytes.data() + done, bytes.size() - done, &sent));
        EXPECT_TRUE(Drux::socketCloseAccepted(ours, peerReads ? 5000 : 50));
        if (peerReads) {
            peer.join();
            // Every byte, then the end of the stream, never a reset.
            EXPECT_EQ(bytes.size(), read.load());
            EXPECT_TRUE(orderlyEnd.load());
            // Closed first, our end holds the port in its closing wait where
            // the system's rule says so, which the bind below must get past.
            EXPECT_EQ(DruxTest::plainBindSucceeds(port), !DruxTest::closingWaitHoldsPort());
        }
        // The listening port is bound again, for exclusive use on Windows.
        const Drux::SocketHandle again = Drux::socketCreate();
        EXPECT_TRUE(Drux::socketBind(again, port) && Drux::socketListen(again));
        Drux::socketClose(again);
        if (!peerReads) Drux::socketClose(theirs);
    }
}

}  // namespace
