#include <atomic>
#include <cerrno>
#include <string>
#include <thread>

#include "core/platform/interrupter.h"
#include "core/platform/socket.h"
#include "core/platform/thread.h"
#include "support/test_support.h"
#include "support/test_system.h"

namespace {

// A connected pair on 127.0.0.1: the listener, the client's end and the accepted end.
struct Connection {
    Drux::SocketHandle listener = Drux::socketCreate(), client = Drux::socketCreate(), server = Drux::kInvalidSocket;
    uint16_t port = 0;

    Connection() {
        EXPECT_TRUE(Drux::socketBind(listener, 0) && Drux::socketListen(listener));
        port = Drux::socketLocalPort(listener);
        EXPECT_TRUE(Drux::socketConnect(client, port) && Drux::socketAccept(listener, &server));
    }
    ~Connection() {
        for (Drux::SocketHandle s : {listener, client, server})
            if (s != Drux::kInvalidSocket) Drux::socketClose(s);
    }
};

TEST(Sockets, ShutdownWakesABlockedReaderAndLaterSendsFailWithoutSigpipe) {
    Connection c;
    std::atomic<int> received{-1};
    std::atomic<long> readerId{0};
    std::thread reader([&] {
        readerId = Drux::currentThreadId();
        char buffer[8];
        size_t count = 99;
        Drux::socketReceive(c.client, buffer, sizeof buffer, &count);
        received = static_cast<int>(count);
    });
    // The reader is inside its receive before the shutdown comes.
    ASSERT_TRUE(DruxTest::waitUntil([&] { return readerId.load() != 0 && DruxTest::threadBlockedInReceive(readerId); }));
    EXPECT_EQ(received.load(), -1);
    EXPECT_TRUE(Drux::socketShutdown(c.client));
    EXPECT_TRUE(DruxTest::waitUntil([&] { return received.load() != -1; }, std::chrono::milliseconds(2000)));
    reader.join();
    EXPECT_EQ(received.load(), 0);
    // Still alive afterwards: no SIGPIPE was raised.
    size_t sent = 0;
    EXPECT_FALSE(Drux::socketSend(c.client, "data", 4, &sent));
    EXPECT_EQ(Drux::lastSocketError(), DruxTest::sendAfterShutdownError());
}

TEST(Sockets, AnInterrupterStaysSignalledUntilResetAndThenWakesAgain) {
    Connection c;
    Drux::Interrupter interrupter;
    EXPECT_EQ(Drux::waitReadable(c.server, interrupter, 0), Drux::WaitResult::TimedOut);
    interrupter.signal();
    EXPECT_EQ(Drux::waitReadable(c.server, interrupter, 0), Drux::WaitResult::Interrupted);
    EXPECT_EQ(Drux::waitReadable(c.server, interrupter, -1), Drux::WaitResult::Interrupted);
    interrupter.reset();
    interrupter.reset();  // resetting an unsignalled one changes nothing
    EXPECT_EQ(Drux::waitReadable(c.server, interrupter, 0), Drux::WaitResult::TimedOut);
    size_t sent = 0;
    ASSERT_TRUE(Drux::socketSend(c.client, "x", 1, &sent));
    EXPECT_EQ(Drux::waitReadable(c.server, interrupter, -1), Drux::WaitResult::Readable);
    interrupter.signal();  // re-armed: a later signal wakes a wait again
    EXPECT_EQ(Drux::waitReadable(c.server, interrupter, 0), Drux::WaitResult::Interrupted);
}

TEST(Sockets, BindSucceedsWhileThePortIsInTimeWait) {
    uint16_t port = 0;
    {
        Connection c;
        port = c.port;
        // The accepted end closes first, so the listening port enters TIME_WAIT.
        Drux::socketClose(c.server);
        c.server = Drux::kInvalidSocket;
        char byte;
        size_t received = 1;
        EXPECT_TRUE(Drux::socketReceive(c.client, &byte, 1, &received));
        EXPECT_EQ(received, 0u);
    }
    // Without address reuse the port is taken (by the system's own rule)...
    EXPECT_EQ(DruxTest::plainBindSucceeds(port), !DruxTest::closingWaitHoldsPort());
    // ... with it, the bind goes through.
    Drux::SocketHandle again = Drux::socketCreate();
    EXPECT_TRUE(Drux::socketBind(again, port));
    Drux::socketClose(again);
}

}  // namespace
