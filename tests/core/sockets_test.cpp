#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "core/platform/socket.h"
#include "core/platform/thread.h"
#include "support/test_support.h"

namespace {

using DruxTest::waitUntil;

// A connected pair on 127.0.0.1: the listener, the client's end and the accepted end.
struct Connection {
    Drux::SocketHandle listener = Drux::kInvalidSocket;
    Drux::SocketHandle client = Drux::kInvalidSocket;
    Drux::SocketHandle server = Drux::kInvalidSocket;
    uint16_t port = 0;

    Connection() {
        listener = Drux::socketCreate();
        EXPECT_TRUE(Drux::socketBind(listener, 0));
        EXPECT_TRUE(Drux::socketListen(listener));
        port = Drux::socketLocalPort(listener);
        client = Drux::socketCreate();
        EXPECT_TRUE(Drux::socketConnect(client, port));
        EXPECT_TRUE(Drux::socketAccept(listener, &server));
    }
    ~Connection() {
        for (Drux::SocketHandle s : {listener, client, server})
            if (s != Drux::kInvalidSocket) Drux::socketClose(s);
    }
    void close(Drux::SocketHandle& s) {
        Drux::socketClose(s);
        s = Drux::kInvalidSocket;
    }
};

bool noDelay(Drux::SocketHandle s) {
    int value = 0;
    socklen_t length = sizeof value;
    return getsockopt(s, IPPROTO_TCP, TCP_NODELAY, &value, &length) == 0 && value != 0;
}

TEST(Sockets, ConnectedEndsCarryDataWithoutNagle) {
    Connection c;
    ASSERT_NE(c.port, 0);
    EXPECT_TRUE(noDelay(c.client));
    EXPECT_TRUE(noDelay(c.server));
    size_t sent = 0, received = 99;
    EXPECT_TRUE(Drux::socketSend(c.client, "hello", 5, &sent));
    EXPECT_EQ(sent, 5u);
    char buffer[16] = {};
    EXPECT_TRUE(Drux::socketReceive(c.server, buffer, sizeof buffer, &received));
    EXPECT_EQ(std::string(buffer, received), "hello");
    c.close(c.client);
    EXPECT_TRUE(Drux::socketReceive(c.server, buffer, sizeof buffer, &received));
    EXPECT_EQ(received, 0u);
}

TEST(Sockets, BindSucceedsWhileThePortIsInTimeWait) {
    uint16_t port = 0;
    {
        Connection c;
        port = c.port;
        // The accepted end closes first, so the listening port enters TIME_WAIT.
        c.close(c.server);
        char byte;
        size_t received = 1;
        EXPECT_TRUE(Drux::socketReceive(c.client, &byte, 1, &received));
        EXPECT_EQ(received, 0u);
    }
    // Without address reuse the port is taken...
    const int plain = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_NE(bind(plain, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(plain);
    // ... with it, the bind goes through.
    Drux::SocketHandle again = Drux::socketCreate();
    EXPECT_TRUE(Drux::socketBind(again, port));
    Drux::socketClose(again);
}

TEST(Sockets, SendingToAClosedPeerFailsWithoutSigpipe) {
    Connection c;
    c.close(c.server);
    bool failed = false;
    for (int i = 0; i < 200 && !failed; ++i) {
        size_t sent = 0;
        failed = !Drux::socketSend(c.client, "data", 4, &sent);
        if (!failed) Drux::sleepMilliseconds(1);
    }
    // Still alive: no SIGPIPE was raised.
    EXPECT_TRUE(failed);
    EXPECT_TRUE(Drux::lastSocketError() == EPIPE || Drux::lastSocketError() == Drux::connectionResetErrorCode());
}

TEST(Sockets, ResetIsReportedWithTheResetCode) {
    Connection c;
    const linger abort{1, 0};
    setsockopt(c.server, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    c.close(c.server);
    char buffer[4];
    size_t received = 7;
    EXPECT_FALSE(Drux::socketReceive(c.client, buffer, sizeof buffer, &received));
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(Drux::lastSocketError(), Drux::connectionResetErrorCode());
}

TEST(Sockets, ShutdownWakesABlockedReader) {
    Connection c;
    std::atomic<bool> woke{false};
    std::atomic<size_t> got{99};
    std::thread reader([&] {
        char buffer[8];
        size_t received = 0;
        Drux::socketReceive(c.client, buffer, sizeof buffer, &received);
        got = received;
        woke = true;
    });
    Drux::sleepMilliseconds(30);
    EXPECT_FALSE(woke.load());
    EXPECT_TRUE(Drux::socketShutdown(c.client));
    EXPECT_TRUE(waitUntil([&] { return woke.load(); }, std::chrono::milliseconds(2000)));
    reader.join();
    EXPECT_EQ(got.load(), 0u);
}

TEST(Sockets, WaitReadableSeesDataInterruptionAndTimeOut) {
    Connection c;
    Drux::Interrupter interrupter;
    EXPECT_EQ(Drux::waitReadable(c.server, interrupter, 10), Drux::WaitResult::TimedOut);
    size_t sent = 0;
    Drux::socketSend(c.client, "x", 1, &sent);
    EXPECT_EQ(Drux::waitReadable(c.server, interrupter, 2000), Drux::WaitResult::Readable);

    Drux::WaitResult result = Drux::WaitResult::Failed;
    std::thread waiter([&] { result = Drux::waitReadable(c.client, interrupter, -1); });
    Drux::sleepMilliseconds(20);
    interrupter.signal();
    waiter.join();
    EXPECT_EQ(result, Drux::WaitResult::Interrupted);
    // Stays signalled.
    EXPECT_EQ(Drux::waitReadable(c.client, interrupter, 0), Drux::WaitResult::Interrupted);
}

}  // namespace
