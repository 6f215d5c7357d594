// Messaging figures, each against its baseline in the same run:
//  1. round trip of a message and its automatic REPLY through two agents (the
//     sender waits on a condition variable that the REPLY's callback signals),
//     against the floor of any callback design (raw TCP whose reading thread
//     hands the answer to the waiting sender through a mutex and a condition
//     variable) and against plain raw ping-pong; payloads of 0, 200, 4000
//     bytes and 64 KiB, with and without the log; p50 and p99 of rounds that
//     take turns, so a change of machine load falls on every case alike;
//  2. one-connection throughput of 16-byte messages and their REPLYs, against
//     raw one-way 16-byte sends and two raw echoes: one that answers a burst
//     with one send, and one that answers each message with a send of its own
//     (the honest baseline for REPLYs that leave one message at a time);
//  3. CPU time of 50 idle connected agent pairs;
//  4. time to delete a server with 50 connected clients, an agent whose
//     socket was shut down, and an agent whose peer does not read while its
//     queue is full (the drain's bound);
//  5. one log line through the log's writer lock, against the same append
//     without the lock.
// Every thread is pinned: all on one CPU (no wake-up crosses CPUs), then the
// two ends of each connection on different CPUs.
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Vantrel.h"
#include "VantrelMessageAgent.h"
#include "VantrelServer.h"
#include "core/log.h"
#include "core/platform/file_append.h"
#include "core/platform/socket.h"
#include "messaging/agent_internal.h"
#include "messaging/client.h"
#include "messaging/server_internal.h"

namespace {

using Clock = std::chrono::steady_clock;
using Drux::SocketHandle;

constexpr int kRounds = 8;
constexpr int kRoundTripsPerRound = 1000;
constexpr int kWarmup = 200;
constexpr int kThroughputRounds = 7;
constexpr int kThroughputMessages = 100000;
constexpr int kIdlePairs = 50;
constexpr int kIdleSeconds = 5;
constexpr int kServerClients = 50;
constexpr int kAgentDeletes = 20;
constexpr int kStuckDeletes = 3;
constexpr int kLogRounds = 10;
constexpr int kLinesPerLogRound = 2000;
constexpr int32_t kChat = VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME;

// --- placement -------------------------------------------------------------

// The CPUs of the two ends of a connection; threads inherit the CPU of the
// thread that starts them, so each end is started while the caller sits there.
struct Placement {
    const char* name;
    int near;  // the sender's end
    int far;   // the answering end
};

void pinTo(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

std::thread threadOn(int cpu, std::function<void()> body) {
    return std::thread([cpu, body = std::move(body)] {
        pinTo(cpu);
        body();
    });
}

// --- raw sockets -----------------------------------------------------------

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
        const ssize_t n = ::send(s, data, length, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool receiveAll(SocketHandle s, char* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::recv(s, data, length, 0);
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

int32_t lengthField(const char* header) {
    int32_t length = 0;
    std::memcpy(&length, header + 12, 4);
    return length;
}

// The answering end of the raw cases, as lean as it can be: it reads what is
// there into one buffer and answers every whole message with a 16-byte
// header; the REPLYs of one read leave in one send.
// Answers every whole message with a REPLY: all of a burst's REPLYs in one
// send, or, `eachOnItsOwn`, one send per message in arrival order (what an
// end that runs each message's handler between its REPLY and the next must do).
void rawAnswerer(SocketHandle s, bool eachOnItsOwn = false) {
    static const std::string reply = headerBytes(VANTRELMESSAGETYPE_REPLY, 0);
    std::vector<char> buffer(256 * 1024);
    std::string replies;
    size_t filled = 0;
    for (;;) {
        const ssize_t n = ::recv(s, buffer.data() + filled, buffer.size() - filled, 0);
        if (n <= 0) return;
        filled += static_cast<size_t>(n);
        size_t offset = 0;
        replies.clear();
        while (filled - offset >= 16) {
            const size_t size = 16 + static_cast<size_t>(std::max(0, lengthField(buffer.data() + offset)));
            if (filled - offset < size) break;
            if (eachOnItsOwn && !sendAll(s, reply.data(), reply.size())) return;
            if (!eachOnItsOwn) replies += reply;
            offset += size;
        }
        if (!replies.empty() && !sendAll(s, replies.data(), replies.size())) return;
        std::memmove(buffer.data(), buffer.data() + offset, filled - offset);
        filled -= offset;
    }
}

// Counts arrivals and wakes a waiting sender: the hand-over that every
// callback design needs.
struct Signal {
    std::mutex mutex;
    std::condition_variable arrived;
    uint64_t count = 0;
    void add(uint64_t n) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            count += n;
        }
        arrived.notify_one();
    }
    void waitFor(uint64_t target) {
        std::unique_lock<std::mutex> lock(mutex);
        arrived.wait(lock, [&] { return count >= target; });
    }
    uint64_t now() {
        std::lock_guard<std::mutex> lock(mutex);
        return count;
    }
};

// One kind of connection that exchanges a message and its answer.
class Exchange {
public:
    virtual ~Exchange() = default;
    // Sends one message and returns when its answer has arrived.
    virtual void roundTrip() = 0;
};

class RawPingPong : public Exchange {
public:
    RawPingPong(const Placement& where, const std::string& payload)
        : pair_(connectedPair()), message_(headerBytes(kChat, static_cast<int32_t>(payload.size())) + payload) {
        peer_ = threadOn(where.far, [this] { rawAnswerer(pair_.b); });
    }
    ~RawPingPong() override {
        ::shutdown(pair_.a, SHUT_RDWR);
        peer_.join();
        closePair(pair_);
    }
    void roundTrip() override {
        char reply[16];
        sendAll(pair_.a, message_.data(), message_.size());
        receiveAll(pair_.a, reply, sizeof reply);
    }

private:
    Pair pair_;
    std::string message_;
    std::thread peer_;
};

// The callback floor: the sender's own reading thread takes the answer and
// wakes the sender.
class CallbackFloor : public Exchange {
public:
    CallbackFloor(const Placement& where, const std::string& payload)
        : pair_(connectedPair()), message_(headerBytes(kChat, static_cast<int32_t>(payload.size())) + payload) {
        peer_ = threadOn(where.far, [this] { rawAnswerer(pair_.b); });
        reader_ = threadOn(where.near, [this] {
            char buffer[4096];
            size_t partial = 0;
            for (;;) {
                const ssize_t n = ::recv(pair_.a, buffer, sizeof buffer, 0);
                if (n <= 0) return;
                partial += static_cast<size_t>(n);
                if (partial >= 16) signal_.add(partial / 16);
                partial %= 16;
            }
        });
    }
    ~CallbackFloor() override {
        ::shutdown(pair_.a, SHUT_RDWR);
        peer_.join();
        reader_.join();
        closePair(pair_);
    }
    void roundTrip() override {
        const uint64_t target = signal_.now() + 1;
        sendAll(pair_.a, message_.data(), message_.size());
        signal_.waitFor(target);
    }

private:
    Pair pair_;
    std::string message_;
    Signal signal_;
    std::thread peer_, reader_;
};

int32_t countReply(void* data, int32_t type, const char*) {
    if (type == VANTRELMESSAGETYPE_REPLY) static_cast<Signal*>(data)->add(1);
    return 1;
}

// Two agents on one connection: the near one sends, the far one answers with
// its automatic REPLY, whose callback on the near side wakes the sender.
class AgentPair : public Exchange {
public:
    AgentPair(const Placement& where, const std::string& payload) : pair_(connectedPair()), payload_(payload) {
        VantrelMessageAgent_Create(&near_);
        VantrelMessageAgent_Create(&far_);
        VantrelMessageAgent_SetMessageArrivedCallback(near_, &signal_, countReply);
        VantrelMessageAgent_SetMessageArrivedCallback(far_, nullptr, [](void*, int32_t, const char*) { return 1; });
        pinTo(where.far);
        VantrelMessageAgent_Start(far_, pair_.b);
        pinTo(where.near);
        VantrelMessageAgent_Start(near_, pair_.a);
    }
    ~AgentPair() override {
        Drux::socketShutdown(pair_.a);
        VantrelMessageAgent_Delete(&near_);
        VantrelMessageAgent_Delete(&far_);
        closePair(pair_);
    }
    void roundTrip() override {
        const uint64_t target = signal_.now() + 1;
        VantrelMessageAgent_SendMessage(near_, kChat, payload_.empty() ? nullptr : payload_.c_str());
        signal_.waitFor(target);
    }
    // Sends `count` header-only messages back to back; returns when every
    // REPLY is in.
    void stream(int count) {
        const uint64_t target = signal_.now() + static_cast<uint64_t>(count);
        for (int i = 0; i < count; ++i) VantrelMessageAgent_SendMessage(near_, kChat, nullptr);
        signal_.waitFor(target);
    }

private:
    Pair pair_;
    std::string payload_;
    Signal signal_;
    VantrelMessageAgentHandle near_ = nullptr, far_ = nullptr;
};

// --- statistics ------------------------------------------------------------

struct Percentiles {
    double p50, p99;
};

Percentiles percentiles(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

void timeRound(Exchange& exchange, int count, std::vector<double>& samples) {
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        exchange.roundTrip();
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
}

// --- 1. round trips --------------------------------------------------------

void roundTrips(const Placement& where) {
    std::printf("\nRound trip of a message and its REPLY, %s, p50 / p99 in microseconds over %d rounds of %d\n",
                where.name, kRounds, kRoundTripsPerRound);
    std::printf("%-10s %15s %15s %15s %15s %9s %9s %9s\n", "payload", "raw ping-pong", "callback floor", "agents",
                "agents, log", "ag/floor", "log/floor", "ag/raw");
    for (const size_t size : {size_t{0}, size_t{200}, size_t{4000}, size_t{64 * 1024}}) {
        const std::string payload(size, 'x');
        pinTo(where.near);
        RawPingPong raw(where, payload);
        CallbackFloor floor(where, payload);
        AgentPair agents(where, payload);
        AgentPair logged(where, payload);
        pinTo(where.near);
        std::vector<double> rawTimes, floorTimes, agentTimes, loggedTimes;
        std::vector<double> scratch;
        for (Exchange* e : std::initializer_list<Exchange*>{&raw, &floor, &agents, &logged})
            timeRound(*e, kWarmup, scratch);
        for (int round = 0; round < kRounds; ++round) {
            timeRound(raw, kRoundTripsPerRound, rawTimes);
            timeRound(floor, kRoundTripsPerRound, floorTimes);
            timeRound(agents, kRoundTripsPerRound, agentTimes);
            Vantrel_Init("bench");
            timeRound(logged, kRoundTripsPerRound, loggedTimes);
            Vantrel_Remove();
        }
        const Percentiles r = percentiles(rawTimes), f = percentiles(floorTimes), a = percentiles(agentTimes),
                          l = percentiles(loggedTimes);
        char label[32];
        std::snprintf(label, sizeof label, "%zu B", size);
        std::printf("%-10s %7.1f /%6.1f %7.1f /%6.1f %7.1f /%6.1f %7.1f /%6.1f %8.2fx %8.2fx %8.2fx\n", label, r.p50,
                    r.p99, f.p50, f.p99, a.p50, a.p99, l.p50, l.p99, a.p50 / f.p50, l.p50 / f.p50, a.p50 / r.p50);
    }
}

// --- 2. throughput ---------------------------------------------------------

double perSecond(int count, Clock::time_point start) {
    return count / std::chrono::duration<double>(Clock::now() - start).count();
}

// 16-byte sends, one per message, read by a peer that only counts bytes.
double rawOneWay(const Placement& where) {
    const Pair pair = connectedPair();
    const size_t total = static_cast<size_t>(kThroughputMessages) * 16;
    std::thread peer = threadOn(where.far, [&] {
        std::vector<char> buffer(256 * 1024);
        for (size_t got = 0; got < total;) {
            const ssize_t n = ::recv(pair.b, buffer.data(), buffer.size(), 0);
            if (n <= 0) return;
            got += static_cast<size_t>(n);
        }
    });
    const std::string message = headerBytes(kChat, 0);
    const auto start = Clock::now();
    for (int i = 0; i < kThroughputMessages; ++i) sendAll(pair.a, message.data(), message.size());
    peer.join();
    const double rate = perSecond(kThroughputMessages, start);
    closePair(pair);
    return rate;
}

// 16-byte sends answered by the lean answerer; the sender's reading thread
// counts the answers.
double rawEcho(const Placement& where, bool eachOnItsOwn) {
    const Pair pair = connectedPair();
    std::thread peer = threadOn(where.far, [&] { rawAnswerer(pair.b, eachOnItsOwn); });
    Signal answers;
    std::thread reader = threadOn(where.near, [&] {
        std::vector<char> buffer(256 * 1024);
        size_t partial = 0;
        for (;;) {
            const ssize_t n = ::recv(pair.a, buffer.data(), buffer.size(), 0);
            if (n <= 0) return;
            partial += static_cast<size_t>(n);
            if (partial >= 16) answers.add(partial / 16);
            partial %= 16;
        }
    });
    const std::string message = headerBytes(kChat, 0);
    const auto start = Clock::now();
    for (int i = 0; i < kThroughputMessages; ++i) sendAll(pair.a, message.data(), message.size());
    answers.waitFor(kThroughputMessages);
    const double rate = perSecond(kThroughputMessages, start);
    ::shutdown(pair.a, SHUT_RDWR);
    peer.join();
    reader.join();
    closePair(pair);
    return rate;
}

double agentStream(const Placement& where) {
    AgentPair agents(where, "");
    pinTo(where.near);
    const auto start = Clock::now();
    agents.stream(kThroughputMessages);
    return perSecond(kThroughputMessages, start);
}

void throughput(const Placement& where) {
    std::vector<double> oneWay, echo, echoEach, agents;
    for (int round = 0; round < kThroughputRounds; ++round) {
        pinTo(where.near);
        oneWay.push_back(rawOneWay(where));
        echo.push_back(rawEcho(where, false));
        echoEach.push_back(rawEcho(where, true));
        agents.push_back(agentStream(where));
    }
    auto range = [](std::vector<double>& v) {
        std::sort(v.begin(), v.end());
        return std::make_pair(v.front() / 1000, v.back() / 1000);
    };
    // The cases take turns within a round, so a round's ratio compares like
    // with like; their median is the steadiest figure.
    std::vector<double> ratios;
    for (size_t i = 0; i < agents.size(); ++i) ratios.push_back(agents[i] / echoEach[i]);
    std::sort(ratios.begin(), ratios.end());
    const auto o = range(oneWay), e = range(echo), r = range(echoEach), a = range(agents);
    std::printf("\nOne connection, %d 16-byte messages, %s, thousands per second (range of %d rounds)\n",
                kThroughputMessages, where.name, kThroughputRounds);
    std::printf("  raw one-way sends            %7.0f - %7.0f\n", o.first, o.second);
    std::printf("  raw echo, a burst's REPLYs   %7.0f - %7.0f\n", e.first, e.second);
    std::printf("  raw echo, one send per REPLY %7.0f - %7.0f\n", r.first, r.second);
    std::printf(
        "  agents (message + REPLY)     %7.0f - %7.0f   %.2fx - %.2fx of the echo with one send per REPLY, "
        "%.2fx - %.2fx of one-way sends\n",
        a.first, a.second, a.first / r.second, a.second / r.first, a.first / o.second, a.second / o.first);
    std::printf("  agents / echo with one send per REPLY, per round: median %.2fx (%.2fx - %.2fx)\n",
                ratios[ratios.size() / 2], ratios.front(), ratios.back());
}

// --- 3. idle cost, 4. teardown ---------------------------------------------

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
            VantrelMessageAgent_SetMessageArrivedCallback(agent, nullptr,
                                                          [](void*, int32_t, const char*) { return 1; });
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

// The peer never reads and the queue holds two messages of the largest size:
// the deletion's drain gives up after its budget.
double stuckDeleteMillis() {
    const std::string largest(16 * 1024 * 1024, 's');
    double worst = 0;
    for (int i = 0; i < kStuckDeletes; ++i) {
        const Pair pair = connectedPair();
        VantrelMessageAgentHandle agent = nullptr;
        VantrelMessageAgent_Create(&agent);
        VantrelMessageAgent_Start(agent, pair.a);
        auto queued = [agent] {
            Drux::ScopedLock lock(agent->core->mutex);
            return agent->core->outgoing.size();
        };
        while (queued() < largest.size() && VantrelMessageAgent_SendMessage(agent, kChat, largest.c_str()) == 1) {
        }
        const auto start = Clock::now();
        VantrelMessageAgent_Delete(&agent);
        worst = std::max(worst, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        closePair(pair);
    }
    return worst;
}

void idleAndTeardown() {
    const double idle = idleCpuPercent();
    std::printf("\n%d idle agent pairs for %d s: %.3f%% of one core\n", kIdlePairs, kIdleSeconds, idle);

    std::printf("\n%-52s %10s %10s\n", "milliseconds", "no log", "log open");
    const double serverDelete = serverDeleteMillis();
    const double agentDelete = agentDeleteMillis();
    Vantrel_Init("bench");
    const double serverDeleteLogged = serverDeleteMillis();
    const double agentDeleteLogged = agentDeleteMillis();
    Vantrel_Remove();
    std::printf("Deleting a server with %d connected clients           %10.2f %10.2f\n", kServerClients, serverDelete,
                serverDeleteLogged);
    std::printf("Deleting an agent whose socket was shut down (worst of %d) %6.2f %10.2f\n", kAgentDeletes, agentDelete,
                agentDeleteLogged);
    std::printf("Deleting an agent whose peer does not read, queue full (worst of %d) %.0f\n", kStuckDeletes,
                stuckDeleteMillis());
}

// --- 5. the log's writer lock ------------------------------------------------

void logLock() {
    Vantrel_Init("bench");
    const char* line = "INFO: SendMessage [VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME]\n";
    const size_t length = std::strlen(line);
    const std::string path = Drux::LogFile::Path();
    std::vector<double> locked, unlocked;
    auto perLine = [](Clock::time_point start) {
        return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kLinesPerLogRound;
    };
    for (int round = 0; round < kLogRounds; ++round) {
        auto start = Clock::now();
        for (int i = 0; i < kLinesPerLogRound; ++i) Drux::LogFile::Write(line);
        locked.push_back(perLine(start));
        start = Clock::now();
        for (int i = 0; i < kLinesPerLogRound; ++i) Drux::appendToFile(path.c_str(), line, length);
        unlocked.push_back(perLine(start));
    }
    Vantrel_Remove();
    std::sort(locked.begin(), locked.end());
    std::sort(unlocked.begin(), unlocked.end());
    const double l = locked[locked.size() / 2], u = unlocked[unlocked.size() / 2];
    std::printf("\nOne log line (open, append, close), median of %d interleaved rounds of %d\n", kLogRounds,
                kLinesPerLogRound);
    std::printf("  through the log's writer lock  %6.2f us\n  the same append, no lock       %6.2f us   %.3fx\n", l, u,
                l / u);
}

}  // namespace

int main(int argc, char** argv) {
    // One part alone, by name: round-trips, throughput, idle or log (all by default).
    const std::string only = argc > 1 ? argv[1] : "";
    if (!only.empty() && only != "round-trips" && only != "throughput" && only != "idle" && only != "log") {
        std::fprintf(stderr, "usage: %s [round-trips | throughput | idle | log]\n", argv[0]);
        return 2;
    }
    auto wanted = [&only](const char* part) { return only.empty() || only == part; };
    char directory[] = "/tmp/drux-messaging-bench-XXXXXX";
    if (mkdtemp(directory) == nullptr || chdir(directory) != 0) {
        std::perror("temporary directory");
        return 1;
    }
    double load[3] = {};
    getloadavg(load, 3);
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    std::printf("%ld CPUs online, load average %.2f %.2f %.2f at the start\n", cpus, load[0], load[1], load[2]);

    std::vector<Placement> placements{{"every thread on CPU 0", 0, 0}};
    if (cpus > 1) placements.push_back({"sender's end on CPU 0, answering end on CPU 1", 0, 1});
    for (const Placement& where : placements) {
        if (wanted("round-trips")) roundTrips(where);
        if (wanted("throughput")) throughput(where);
    }
    // The idle and teardown figures count every CPU, as a host would see them.
    cpu_set_t all;
    CPU_ZERO(&all);
    for (long cpu = 0; cpu < cpus && cpu < CPU_SETSIZE; ++cpu) CPU_SET(cpu, &all);
    pthread_setaffinity_np(pthread_self(), sizeof all, &all);
    if (wanted("idle")) idleAndTeardown();
    if (wanted("log")) {
        pinTo(0);
        logLock();
    }

    unlink("vantrel-bench.log");
    if (chdir("/") == 0) rmdir(directory);
    return 0;
}
