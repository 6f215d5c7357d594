// Loopback sockets, raw wire bytes and a recording callback for the messaging tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "VantrelMessageAgent.h"
#include "core/platform/socket.h"
#include "messaging/agent_internal.h"
#include "messaging/server_internal.h"
#include "support/test_support.h"
#include "support/test_system.h"

namespace MessagingTest {

using Drux::SocketHandle;

// A header exactly as it travels: four little-endian 32-bit fields.
inline std::string headerBytes(int32_t size, int32_t version, int32_t type, int32_t length) {
    std::string bytes;
    for (int32_t field : {size, version, type, length})
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<char>((static_cast<uint32_t>(field) >> shift) & 0xFF));
    return bytes;
}

inline std::string messageBytes(int32_t type, const std::string& payload = std::string()) {
    return headerBytes(16, 1, type, static_cast<int32_t>(payload.size())) + payload;
}

// The answer to every message but a REPLY or an INVALID one.
inline const std::string kReply = messageBytes(VANTRELMESSAGETYPE_REPLY);

inline void sendRaw(SocketHandle socket, const std::string& bytes) {
    for (size_t done = 0, sent = 0; done < bytes.size(); done += sent)
        ASSERT_TRUE(DruxTest::sendSome(socket, bytes.data() + done, bytes.size() - done, &sent));
}

// Reads until `count` bytes have arrived, the peer closes (which sets
// `*closed` when given) or `timeoutMs` of silence passes; returns what arrived.
inline std::string readBytes(SocketHandle socket, size_t count, int timeoutMs = 5000, bool* closed = nullptr) {
    Drux::Interrupter never;
    std::string bytes;
    std::vector<char> buffer(64 * 1024);
    size_t got = 0;
    unsigned ready = 0;
    while (bytes.size() < count &&
           Drux::waitSocket(socket, Drux::kSocketReadable, never, timeoutMs, &ready) == Drux::SocketWait::Ready) {
        if (!DruxTest::receiveSome(socket, buffer.data(), std::min(buffer.size(), count - bytes.size()), &got) ||
            got == 0) {
            if (closed != nullptr) *closed = true;
            break;
        }
        bytes.append(buffer.data(), got);
    }
    return bytes;
}

// Everything that arrives until `quietMs` pass without data.
inline std::string readAvailable(SocketHandle socket, int quietMs = 50) { return readBytes(socket, SIZE_MAX, quietMs); }

// Whether the other end closes the connection before `quietMs` pass without
// data; what arrived before the close goes to `before` when given.
inline bool closedByPeer(SocketHandle socket, int quietMs = 5000, std::string* before = nullptr) {
    bool closed = false;
    const std::string bytes = readBytes(socket, SIZE_MAX, quietMs, &closed);
    if (before != nullptr) *before = bytes;
    return closed;
}

// Records every delivered message as "type:payload" ("(null)" for none);
// usable as a VantrelMessageArrivedCallback. `before`, when set, runs first on
// the delivering thread (it may send, probe or block there).
struct Recorder {
    using Hook = std::function<void(int32_t type, const char* payload)>;
    static int32_t callback(void* self, int32_t type, const char* payload) {
        auto* recorder = static_cast<Recorder*>(self);
        if (recorder->before) recorder->before(type, payload);
        std::lock_guard<std::mutex> lock(recorder->mutex);
        recorder->list.push_back(std::to_string(type) + ":" + (payload ? payload : "(null)"));
        return 1;
    }
    std::vector<std::string> messages() const {
        std::lock_guard<std::mutex> lock(mutex);
        return list;
    }
    bool waitForCount(size_t n, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) const {
        return DruxTest::waitUntil(
            [&] {
                std::lock_guard<std::mutex> lock(mutex);
                return list.size() >= n;
            },
            limit);
    }
    Hook before;
    mutable std::mutex mutex;
    std::vector<std::string> list;
};

// Holds a delivering thread in pass() until open() (a callback that outlives
// a deletion's wait).
struct Gate {
    void pass() {
        std::unique_lock<std::mutex> lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return opened; });
    }
    bool waitEntered() {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [&] { return entered; });
    }
    void open() {
        std::lock_guard<std::mutex> lock(mutex);
        opened = true;
        changed.notify_all();
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false, opened = false;
};

// An agent on `local`, recording into `recorder`, whose other end (`remote`)
// the test drives byte by byte: a fresh connection's, or none when the test
// holds the other end elsewhere. `before` and `ended` are set before the
// start. Torn down in the owners' order: shut down, delete the agent, close.
struct RawPeerAgent {
    explicit RawPeerAgent(Recorder::Hook before = {}) : RawPeerAgent(DruxTest::connectedPair(), std::move(before)) {}
    RawPeerAgent(SocketHandle socket, boost::function<void()> ended)
        : RawPeerAgent({Drux::kInvalidSocket, socket}, {}, std::move(ended)) {}
    RawPeerAgent(std::pair<SocketHandle, SocketHandle> ends, Recorder::Hook before, boost::function<void()> ended = {})
        : local(ends.second), remote(ends.first) {
        recorder.before = std::move(before);
        VantrelMessageAgent_Create(&agent);
        VantrelMessageAgent_SetMessageArrivedCallback(agent, &recorder, &Recorder::callback);
        agent->core->connectionEnded = std::move(ended);
        EXPECT_EQ(1, VantrelMessageAgent_Start(agent, local));
    }
    ~RawPeerAgent() {
        Drux::socketShutdown(local);
        if (agent != nullptr) VantrelMessageAgent_Delete(&agent);
        Drux::socketClose(local);
        if (remote != Drux::kInvalidSocket) Drux::socketClose(remote);
    }
    SocketHandle local, remote;
    VantrelMessageAgentHandle agent = nullptr;
    Recorder recorder;
};

// The lines of `lines` that are exactly one of `wanted`, in file order.
inline std::vector<std::string> linesAmong(const std::vector<std::string>& lines,
                                           const std::vector<std::string>& wanted) {
    std::vector<std::string> found;
    for (const std::string& line : lines)
        if (std::find(wanted.begin(), wanted.end(), line) != wanted.end()) found.push_back(line);
    return found;
}

// A listening server whose deliveries go to `recorder`, and raw clients of it
// that the fixture closes.
class ServerFixture : public DruxTest::LoggedTest {
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

    size_t listed() const { return Drux::serverClientCount(*server); }

    // Connects one raw client and waits until the server has listed it and
    // every listed client's agent runs (a client is listed a moment before
    // its agent starts, and broadcasts pass over it until then).
    SocketHandle connectClient(uint16_t port) {
        const size_t before = listed();
        clients.push_back(Drux::socketCreate());
        EXPECT_TRUE(Drux::socketConnect(clients.back(), port));
        EXPECT_TRUE(DruxTest::waitUntil([&] {
            std::lock_guard<Drux::StateLock> lock(server->clientsLock);
            return server->clients.size() > before &&
                   std::all_of(server->clients.begin(), server->clients.end(), [](const auto& node) {
                       return node->agent != nullptr && node->agent->core->isRunning.load() == 1;
                   });
        }));
        return clients.back();
    }

    VantrelServerHandle server = nullptr;
    Recorder recorder;
    std::vector<SocketHandle> clients;
};

}  // namespace MessagingTest
