// Messaging figures, side by side in one run:
//  1. round trip of a message and its automatic REPLY through two agents on
//     loopback, against a raw-socket ping-pong of the same bytes (median);
//  2. CPU time of 50 idle connected agent pairs over 5 seconds;
//  3. time to delete a server with 50 connected clients, and to delete an
//     agent whose socket was shut down.
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Vantrel.h"
#include "VantrelMessageAgent.h"
#include "VantrelServer.h"
#include "core/platform/socket.h"
#include "messaging/client.h"
#include "messaging/server_internal.h"

namespace {

using Clock = std::chrono::steady_clock;
using Drux::SocketHandle;

constexpr int kWarmup = 500;
constexpr int kIterations = 10000;
constexpr int kIdlePairs = 50;
constexpr int kIdleSeconds = 5;
constexpr int kServerClients = 50;
constexpr int kAgentDeletes = 20;

struct Pair {
    SocketHandle a = Drux::kInvalidSocket;
    SocketHandle b = Drux::kInvalidSocket;
};

Pair connectedPair() {
    Pair pair;
    const SocketHandle listening = Drux::socketCreate();
    Drux::socketBind(listening, 0);
    Drux::socketListen(listening);
    pair.b = Drux::socketCreate();
    Drux::socketConnect(pair.b, Drux::socketLocalPort(listening));
    Drux::socketAccept(listening, &pair.a);
    Drux::socketClose(listening);
    return pair;
}

void closePair(const Pair& pair) {
    Drux::socketClose(pair.a);
    Drux::socketClose(pair.b);
}

std::string headerBytes(int32_t type, int32_t length) {
    std::string bytes;
    for (int32_t field : {16, 1, type, length})
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<char>((static_cast<uint32_t>(field) >> shift) & 0xFF));
    return bytes;
}

bool sendAll(SocketHandle s, const char* data, size_t length) {
    while (length > 0) {
        size_t sent = 0;
        if (!Drux::socketSend(s, data, length, &sent) || sent == 0) return false;
        data += sent;
        length -= sent;
    }
    return true;
}

bool receiveAll(SocketHandle s, char* data, size_t length) {
    while (length > 0) {
        size_t received = 0;
        if (!Drux::socketReceive(s, data, length, &received) || received == 0) return false;
        data += received;
        length -= received;
    }
    return true;
}

double medianMicros(std::vector<double>& samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// The raw ping-pong: the message's bytes in one send, the peer reads the
// header and payload and answers with a 16-byte reply header.
double rawRoundTrip(const std::string& payload) {
    const Pair pair = connectedPair();
    std::thread peer([&] {
        char header[16];
        std::vector<char> body(64 * 1024);
        const std::string reply = headerBytes(5, 0);
        while (receiveAll(pair.b, header, sizeof header)) {
            int32_t length = 0;
            std::memcpy(&length, header + 12, 4);
            if (length > 0 && !receiveAll(pair.b, body.data(), static_cast<size_t>(length))) break;
            if (!sendAll(pair.b, reply.data(), reply.size())) break;
        }
    });
    const std::string message = headerBytes(11, static_cast<int32_t>(payload.size())) + payload;
    std::vector<double> samples;
    samples.reserve(kIterations);
    char reply[16];
    for (int i = 0; i < kWarmup + kIterations; ++i) {
        const auto start = Clock::now();
        sendAll(pair.a, message.data(), message.size());
        receiveAll(pair.a, reply, sizeof reply);
        if (i >= kWarmup) samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    Drux::socketShutdown(pair.a);
    peer.join();
    closePair(pair);
    return medianMicros(samples);
}

// The same exchange through two agents: A sends, B answers automatically,
// A's reading thread hands the REPLY to its callback, which wakes the sender.
double agentRoundTrip(const std::string& payload) {
    const Pair pair = connectedPair();
    std::atomic<uint32_t> replies{0};
    VantrelMessageAgentHandle a = nullptr, b = nullptr;
    VantrelMessageAgent_Create(&a);
    VantrelMessageAgent_Create(&b);
    VantrelMessageAgent_SetMessageArrivedCallback(a, &replies, [](void* data, int32_t type, const char*) {
        if (type == VANTRELMESSAGETYPE_REPLY) {
            auto* counter = static_cast<std::atomic<uint32_t>*>(data);
            counter->fetch_add(1);
            counter->notify_one();
        }
        return 1;
    });
    VantrelMessageAgent_SetMessageArrivedCallback(b, nullptr, [](void*, int32_t, const char*) { return 1; });
    VantrelMessageAgent_Start(a, pair.a);
    VantrelMessageAgent_Start(b, pair.b);

    std::vector<double> samples;
    samples.reserve(kIterations);
    const char* text = payload.empty() ? nullptr : payload.c_str();
    for (int i = 0; i < kWarmup + kIterations; ++i) {
        const uint32_t before = replies.load();
        const auto start = Clock::now();
        VantrelMessageAgent_SendMessage(a, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, text);
        uint32_t now = replies.load();
        while (now == before) {
            replies.wait(now);
            now = replies.load();
        }
        if (i >= kWarmup) samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    Drux::socketShutdown(pair.a);
    Drux::socketShutdown(pair.b);
    VantrelMessageAgent_Delete(&a);
    VantrelMessageAgent_Delete(&b);
    closePair(pair);
    return medianMicros(samples);
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double idleCpuPercent() {
    std::vector<Pair> pairs;
    std::vector<VantrelMessageAgentHandle> agents;
    for (int i = 0; i < kIdlePairs; ++i) {
        pairs.push_back(connectedPair());
        for (SocketHandle s : {pairs.back().a, pairs.back().b}) {
            VantrelMessageAgentHandle agent = nullptr;
            VantrelMessageAgent_Create(&agent);
            VantrelMessageAgent_SetMessageArrivedCallback(agent, nullptr, [](void*, int32_t, const char*) { return 1; });
            VantrelMessageAgent_Start(agent, s);
            agents.push_back(agent);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let every thread settle in its wait
    const double cpuBefore = cpuSeconds();
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    for (const Pair& pair : pairs) {
        Drux::socketShutdown(pair.a);
        Drux::socketShutdown(pair.b);
    }
    for (VantrelMessageAgentHandle& agent : agents) VantrelMessageAgent_Delete(&agent);
    for (const Pair& pair : pairs) closePair(pair);
    return 100.0 * cpu / wall;
}

double serverDeleteMillis() {
    VantrelServerHandle server = nullptr;
    VantrelServer_Create(&server);
    VantrelServer_SetMessageArrivedCallback(server, nullptr, [](void*, int32_t, const char*) { return 1; });
    VantrelServer_Start(server, 0);
    const uint16_t port = Drux::socketLocalPort(server->listenSocket);
    std::vector<VantrelClient*> clients(kServerClients, nullptr);
    for (VantrelClient*& client : clients) {
        VantrelClient_Create(&client);
        VantrelClient_Start(client, port);
    }
    // every client accepted and listed
    while (Drux::serverClientCount(*server) != static_cast<size_t>(kServerClients))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto start = Clock::now();
    VantrelServer_Delete(&server);
    const double millis = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    for (VantrelClient*& client : clients) VantrelClient_Delete(&client);
    return millis;
}

double agentDeleteMillis() {
    std::vector<double> samples;
    for (int i = 0; i < kAgentDeletes; ++i) {
        const Pair pair = connectedPair();
        VantrelMessageAgentHandle agent = nullptr;
        VantrelMessageAgent_Create(&agent);
        VantrelMessageAgent_Start(agent, pair.a);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // threads in their waits
        const auto start = Clock::now();
        Drux::socketShutdown(pair.a);
        VantrelMessageAgent_Delete(&agent);
        samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        closePair(pair);
    }
    return *std::max_element(samples.begin(), samples.end());
}

}  // namespace

int main() {
    char directory[] = "/tmp/drux-messaging-bench-XXXXXX";
    if (mkdtemp(directory) == nullptr || chdir(directory) != 0) {
        std::perror("temporary directory");
        return 1;
    }
    const std::string payload200(200, 'x');

    std::printf("Round trip of a message and its REPLY, median of %d, microseconds\n", kIterations);
    std::printf("%-28s %10s %10s %10s\n", "", "raw", "agents", "ratio");
    const double rawNone = rawRoundTrip("");
    const double rawLong = rawRoundTrip(payload200);
    const double agentNone = agentRoundTrip("");
    const double agentLong = agentRoundTrip(payload200);
    std::printf("%-28s %10.1f %10.1f %9.2fx\n", "no payload, no log", rawNone, agentNone, agentNone / rawNone);
    std::printf("%-28s %10.1f %10.1f %9.2fx\n", "200-byte payload, no log", rawLong, agentLong, agentLong / rawLong);
    Vantrel_Init("bench");
    const double loggedNone = agentRoundTrip("");
    const double loggedLong = agentRoundTrip(payload200);
    Vantrel_Remove();
    std::printf("%-28s %10.1f %10.1f %9.2fx\n", "no payload, log open", rawNone, loggedNone, loggedNone / rawNone);
    std::printf("%-28s %10.1f %10.1f %9.2fx\n", "200-byte payload, log open", rawLong, loggedLong,
                loggedLong / rawLong);

    const double idle = idleCpuPercent();
    std::printf("\n%d idle agent pairs for %d s: %.3f%% of one core\n", kIdlePairs, kIdleSeconds, idle);

    std::printf("\n%-52s %10s %10s\n", "milliseconds", "no log", "log open");
    const double serverDelete = serverDeleteMillis();
    const double agentDelete = agentDeleteMillis();
    Vantrel_Init("bench");
    const double serverDeleteLogged = serverDeleteMillis();
    const double agentDeleteLogged = agentDeleteMillis();
    Vantrel_Remove();
    std::printf("Deleting a server with %d connected clients           %10.2f %10.2f\n", kServerClients,
                serverDelete, serverDeleteLogged);
    std::printf("Deleting an agent whose socket was shut down (worst of %d) %6.2f %10.2f\n", kAgentDeletes,
                agentDelete, agentDeleteLogged);

    unlink("vantrel-bench.log");
    if (chdir("/") == 0) rmdir(directory);
    return 0;
}
