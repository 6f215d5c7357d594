// The server under load: hundreds of clients talking while broadcasts go on
// and clients come and go, thousands of short connections, and a client that
// never reads. Resources (descriptors, threads, memory) must follow the live
// connections only.
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <numeric>
#include <set>
#include <thread>

#include "messaging_test_support.h"
#include "support/test_system.h"

using namespace MessagingTest;

namespace {

// Generous bounds for the probes: the sanitizer builds are many times slower.
constexpr std::chrono::milliseconds kLoadLimit(90000);

// The sanitizers' allocators hold freed memory back on purpose (quarantine),
// so resident memory is compared in the plain build only.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryComparable = false;
#else
constexpr bool kMemoryComparable = true;
#endif

struct Resources {
    size_t descriptors = 0, threads = 0, residentKiB = 0;

    static Resources now() {
        auto entries = [](const char* directory) {
            return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(directory), {}));
        };
        std::ifstream statm("/proc/self/statm");
        size_t pages = 0;
        statm >> pages >> pages;
        return {entries("/proc/self/fd"), entries("/proc/self/task"),
                pages * static_cast<size_t>(sysconf(_SC_PAGESIZE)) / 1024};
    }
    // Descriptors and threads back to `base` (two of each allowed for the
    // directory walk and a thread still leaving), memory within `slackKiB`
    // where it can be compared.
    bool within(const Resources& base, size_t slackKiB) const {
        return descriptors <= base.descriptors + 2 && threads <= base.threads + 2 &&
               (!kMemoryComparable || residentKiB <= base.residentKiB + slackKiB);
    }
};

std::ostream& operator<<(std::ostream& out, const Resources& r) {
    return out << r.descriptors << " descriptors, " << r.threads << " threads, " << r.residentKiB << " KiB resident";
}

// A raw client's stream as far as it has come: the payloads of the
// broadcasts in arrival order, and how many REPLYs came between them.
struct Stream {
    std::string pending;
    std::vector<std::string> broadcasts;
    size_t replies = 0;

    // Takes what has arrived by now; false when the server closed the
    // connection (it never closes a live client here) or broke the wire format.
    bool take(SocketHandle socket) {
        bool closed = false;
        pending += readBytes(socket, SIZE_MAX, 0, &closed);
        if (closed) return false;
        for (int32_t fields[4]; pending.size() >= 16; pending.erase(0, 16 + static_cast<size_t>(fields[3]))) {
            std::memcpy(fields, pending.data(), 16);
            if (fields[0] != 16 || fields[1] != 1 || fields[3] < 0) return false;
            if (pending.size() < 16 + static_cast<size_t>(fields[3])) break;
            if (fields[2] == VANTRELMESSAGETYPE_REPLY)
                ++replies;
            else
                broadcasts.push_back(pending.substr(16, static_cast<size_t>(fields[3])));
        }
        return true;
    }
};

class ServerStressTest : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        // Room for a few thousand descriptors (a fresh machine allows 1024).
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = std::max(limit.rlim_cur, std::min<rlim_t>(8192, limit.rlim_max));
        setrlimit(RLIMIT_NOFILE, &limit);
        port = startServer();
    }
    SocketHandle connectTo() {
        const SocketHandle socket = Drux::socketCreate();
        EXPECT_TRUE(Drux::socketConnect(socket, port));
        return socket;
    }
    uint16_t port = 0;
};

// Records on the server side, per client, the sequence numbers of the
// messages "<client>:<sequence>" in the order they arrived.
struct ArrivalLog {
    static int32_t callback(void* self, int32_t, const char* payload) {
        auto* log = static_cast<ArrivalLog*>(self);
        int client = -1, sequence = -1;
        if (payload == nullptr || std::sscanf(payload, "%d:%d", &client, &sequence) != 2) return 1;
        std::lock_guard<std::mutex> lock(log->mutex);
        log->arrived[client].push_back(sequence);
        return 1;
    }
    std::mutex mutex;
    std::map<int, std::vector<int>> arrived;
};

// Whether `received` is "b<first>", "b<first+1>", ... "b<last>" (then "end"
// when `ended`): nothing lost, doubled or reordered in between.
bool isRun(const std::vector<std::string>& received, bool ended, int last, bool fromFirst) {
    const size_t count = received.size() - (ended ? 1 : 0);
    if (ended && (received.empty() || received.back() != "end")) return false;
    const int first = count == 0 ? 0 : std::atoi(received.front().c_str() + 1);
    if (fromFirst && count > 0 && first != 0) return false;
    for (size_t i = 0; i < count; ++i)
        if (received[i] != "b" + std::to_string(first + static_cast<int>(i))) return false;
    return last < 0 || (count > 0 && first + static_cast<int>(count) - 1 == last);
}

TEST_F(ServerStressTest, FiveHundredClientsTalkDuringBroadcastsWhileOthersLeaveAndJoin) {
    constexpr int kClients = 500, kRounds = 20, kChurnPerRound = 10, kBroadcasts = 100;
    ArrivalLog arrivals;
    VantrelServer_SetMessageArrivedCallback(server, &arrivals, &ArrivalLog::callback);
    server->connectionLimit = 2 * kClients;
    const Resources base = Resources::now();

    // What each client is sent stays far below its socket's buffer, so no
    // broadcast waits for the test to read.
    std::map<int, SocketHandle> live;
    std::map<int, Stream> streams;
    std::map<int, int> sent;
    std::set<int> joined;
    int nextId = 0;
    for (; nextId < kClients; ++nextId) live[nextId] = connectTo();
    ASSERT_TRUE(DruxTest::waitUntil([&] { return listed() == kClients; }, kLoadLimit));
    const Resources loaded = Resources::now();

    std::thread broadcaster([s = server] {
        for (int k = 0; k < kBroadcasts; ++k)
            EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(s, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME,
                                                               ("b" + std::to_string(k)).c_str()));
    });
    for (int round = 0; round < kRounds; ++round) {
        for (const auto& [id, socket] : live)
            sendRaw(socket, messageBytes(8, std::to_string(id) + ":" + std::to_string(sent[id]++)));
        for (int i = 0; i < kChurnPerRound; ++i, ++nextId) {
            // A leaver (there from the start) has an unbroken run of the
            // broadcasts from the first one, as far as they came.
            const auto [leaver, socket] = *live.begin();
            EXPECT_TRUE(streams[leaver].take(socket)) << "client " << leaver;
            EXPECT_TRUE(isRun(streams[leaver].broadcasts, false, -1, true)) << "client " << leaver;
            Drux::socketClose(socket);
            live.erase(leaver);
            joined.insert(nextId);
            live[nextId] = connectTo();
        }
    }
    broadcaster.join();
    // Every joiner listed and every departure forgotten, then a last broadcast
    // that each live client must receive after everything before it.
    ASSERT_TRUE(DruxTest::waitUntil([&] { return listed() == kClients; }, kLoadLimit));
    EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(server, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "end"));
    auto allIn = [&] {
        std::lock_guard<std::mutex> lock(arrivals.mutex);
        for (const auto& [id, socket] : live) {
            Stream& stream = streams[id];
            EXPECT_TRUE(stream.take(socket)) << "client " << id;
            if (arrivals.arrived[id].size() != static_cast<size_t>(sent[id]) ||
                stream.replies < static_cast<size_t>(sent[id]) || stream.broadcasts.empty() ||
                stream.broadcasts.back() != "end")
                return false;
        }
        return true;
    };
    ASSERT_TRUE(DruxTest::waitUntil(allIn, kLoadLimit));

    for (const auto& [id, socket] : live) {
        // Whoever was there from the start has every broadcast; a joiner an
        // unbroken run up to the last one.
        const Stream& stream = streams[id];
        const bool original = joined.count(id) == 0;
        EXPECT_TRUE(isRun(stream.broadcasts, true, kBroadcasts - 1, original) ||
                    (!original && stream.broadcasts.size() == 1))
            << "client " << id;
        EXPECT_EQ(static_cast<size_t>(sent[id]), stream.replies) << "client " << id;
        std::vector<int> expected(static_cast<size_t>(sent[id]));
        std::iota(expected.begin(), expected.end(), 0);
        std::lock_guard<std::mutex> lock(arrivals.mutex);
        EXPECT_EQ(expected, arrivals.arrived[id]) << "client " << id;
        Drux::socketClose(socket);
    }

    // Everyone gone: the server holds nothing for them any more.
    ASSERT_TRUE(DruxTest::waitUntil([&] { return listed() == 0; }, kLoadLimit));
    ASSERT_TRUE(DruxTest::waitUntil([&] { return Resources::now().within(base, 16 * 1024); }, kLoadLimit))
        << "before " << base << "; after " << Resources::now();
    std::cout << "500 clients: before " << base << "; with them " << loaded << "; after " << Resources::now() << "\n";
}

TEST_F(ServerStressTest, TenThousandConnectionsComeAndGoWithResourcesFlat) {
    constexpr int kCycles = 10000, kBatch = 10, kWarmUp = 500;
    // Descriptors and threads as before the first connection; memory once
    // the allocator has settled in.
    Resources base = Resources::now();
    for (int cycle = 0; cycle < kCycles; cycle += kBatch) {
        if (cycle == kWarmUp) base.residentKiB = Resources::now().residentKiB;
        std::vector<SocketHandle> batch;
        for (int i = 0; i < kBatch; ++i) batch.push_back(connectTo());
        // A reply proves that the server took the connection on.
        for (SocketHandle socket : batch) sendRaw(socket, messageBytes(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, "x"));
        for (SocketHandle socket : batch) ASSERT_EQ(kReply, readBytes(socket, 16));
        for (size_t i = 0; i < batch.size(); ++i) {
            // Half leave with a reset instead of an orderly close.
            ASSERT_TRUE(i % 2 == 0 || DruxTest::closeWithReset(batch[i]));
            Drux::socketClose(batch[i]);
        }
        ASSERT_TRUE(DruxTest::waitUntil([&] { return listed() == 0; }, kLoadLimit)) << "cycle " << cycle;
    }
    ASSERT_TRUE(DruxTest::waitUntil([&] { return Resources::now().within(base, 4 * 1024); }, kLoadLimit))
        << "before " << base << "; after " << Resources::now();
    std::cout << "10000 connections: before " << base << " (memory after " << kWarmUp << "); after all "
              << Resources::now() << "\n";
}

// A client that never reads fills its socket buffer and then its queue; the
// broadcasts to the others never wait for it.
TEST_F(ServerStressTest, BroadcastsGoOnPastAClientThatNeverReads) {
    constexpr size_t kBroadcasts = 20000;
    const std::string payload(1000, 'n');
    connectClient(port);  // the silent one
    const SocketHandle reading = connectClient(port);

    std::atomic<size_t> done{0};
    std::thread broadcaster([&, s = server] {
        for (size_t k = 0; k < kBroadcasts; ++k, ++done)
            if (VantrelServer_SendMessageToAllClients(s, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, payload.c_str()) != 1)
                break;
    });
    // 20 MB: far beyond what the silent client's buffers hold.
    const std::string received = readBytes(reading, kBroadcasts * (16 + payload.size()), 10000);
    EXPECT_EQ(kBroadcasts * (16 + payload.size()), received.size());
    // The last broadcast's bytes can arrive before its call has returned.
    EXPECT_TRUE(DruxTest::waitUntil([&] { return done.load() == kBroadcasts; }));
    // Deletion ends a broadcast that is still stuck, so the thread can be joined.
    VantrelServer_Delete(&server);
    broadcaster.join();
}

}  // namespace
