// Loopback sockets, raw wire bytes and a recording callback for the messaging tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "VantrelMessageAgent.h"
#include "core/platform/socket.h"
#include "support/test_support.h"

namespace MessagingTest {

using Drux::SocketHandle;

// Two connected ends of one loopback TCP connection.
struct SocketPair {
    SocketHandle local = Drux::kInvalidSocket;
    SocketHandle remote = Drux::kInvalidSocket;
};

inline SocketPair connectedPair() {
    SocketPair pair;
    const SocketHandle listening = Drux::socketCreate();
    EXPECT_TRUE(Drux::socketBind(listening, 0));
    EXPECT_TRUE(Drux::socketListen(listening));
    pair.remote = Drux::socketCreate();
    EXPECT_TRUE(Drux::socketConnect(pair.remote, Drux::socketLocalPort(listening)));
    EXPECT_TRUE(Drux::socketAccept(listening, &pair.local));
    Drux::socketClose(listening);
    return pair;
}

// A header exactly as it travels: four little-endian 32-bit fields.
inline std::string headerBytes(int32_t size, int32_t version, int32_t type, int32_t length) {
    std::string bytes;
    for (int32_t field : {size, version, type, length}) {
        const uint32_t bits = static_cast<uint32_t>(field);
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>((bits >> shift) & 0xFF));
    }
    return bytes;
}

inline std::string messageBytes(int32_t type, const std::string& payload = std::string()) {
    return headerBytes(16, 1, type, static_cast<int32_t>(payload.size())) + payload;
}

inline void sendRaw(SocketHandle socket, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        size_t sent = 0;
        ASSERT_TRUE(Drux::socketSend(socket, bytes.data() + done, bytes.size() - done, &sent));
        done += sent;
    }
}

// Reads until `count` bytes have arrived, the peer closes or `timeoutMs` of
// silence passes; returns what arrived.
inline std::string readBytes(SocketHandle socket, size_t count, int timeoutMs = 5000) {
    Drux::Interrupter never;
    std::string bytes;
    std::vector<char> buffer(64 * 1024);
    while (bytes.size() < count) {
        if (Drux::waitReadable(socket, never, timeoutMs) != Drux::WaitResult::Readable) break;
        size_t received = 0;
        const size_t want = std::min(buffer.size(), count - bytes.size());
        if (!Drux::socketReceive(socket, buffer.data(), want, &received) || received == 0) break;
        bytes.append(buffer.data(), received);
    }
    return bytes;
}

// Everything that arrives until `quietMs` pass without data.
inline std::string readAvailable(SocketHandle socket, int quietMs = 50) {
    return readBytes(socket, SIZE_MAX, quietMs);
}

// Whether the other end closes the connection within the time limit.
inline bool closedByPeer(SocketHandle socket, int timeoutMs = 2000) {
    Drux::Interrupter never;
    char byte = 0;
    size_t received = 0;
    if (Drux::waitReadable(socket, never, timeoutMs) != Drux::WaitResult::Readable) return false;
    return !Drux::socketReceive(socket, &byte, 1, &received) || received == 0;
}

// Records every delivered message; usable as a VantrelMessageArrivedCallback.
class Recorder {
public:
    struct Message {
        int32_t type;
        std::optional<std::string> payload;
    };

    static int32_t callback(void* self, int32_t type, const char* payload) {
        auto* recorder = static_cast<Recorder*>(self);
        std::lock_guard<std::mutex> lock(recorder->mutex_);
        recorder->messages_.push_back({type, payload ? std::optional<std::string>(payload) : std::nullopt});
        return 1;
    }

    size_t count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_.size();
    }
    bool waitForCount(size_t n, int limitMs = 5000) const {
        return DruxTest::waitUntil([&] { return count() >= n; }, std::chrono::milliseconds(limitMs));
    }
    std::vector<Message> messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
};

// An agent on one end of a loopback connection whose other end the test
// drives byte by byte. Torn down in the owners' order: shut down, delete the
// agent, close.
struct RawPeerAgent {
    SocketPair sockets = connectedPair();
    VantrelMessageAgentHandle agent = nullptr;
    Recorder recorder;

    explicit RawPeerAgent(bool withCallback = true) {
        VantrelMessageAgent_Create(&agent);
        if (withCallback) VantrelMessageAgent_SetMessageArrivedCallback(agent, &recorder, &Recorder::callback);
        EXPECT_EQ(1, VantrelMessageAgent_Start(agent, sockets.local));
    }
    ~RawPeerAgent() {
        Drux::socketShutdown(sockets.local);
        if (agent != nullptr) VantrelMessageAgent_Delete(&agent);
        Drux::socketClose(sockets.local);
        Drux::socketClose(sockets.remote);
    }
    int32_t heartbeatActive() const {
        int32_t value = -1;
        VantrelMessageAgent_GetHeartbeatActive(agent, &value);
        return value;
    }
    int32_t isRunning() const {
        int32_t value = -1;
        VantrelMessageAgent_GetIsRunning(agent, &value);
        return value;
    }
};

// The lines of `lines` that are exactly one of `wanted`, in file order.
inline std::vector<std::string> linesAmong(const std::vector<std::string>& lines,
                                           const std::vector<std::string>& wanted) {
    std::vector<std::string> found;
    for (const std::string& line : lines)
        for (const std::string& w : wanted)
            if (line == w) found.push_back(line);
    return found;
}

}  // namespace MessagingTest
