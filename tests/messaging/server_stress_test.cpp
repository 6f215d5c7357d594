// The server under load: hundreds of clients talking while broadcasts go on
// and clients come and go, thousands of short connections, and a client that
// never reads. Resources (descriptors, threads, memory) must follow the live
// connections only.
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
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

#include "messaging/server_internal.h"
#include "messaging_test_support.h"

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

    static size_t entries(const char* directory) {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(directory), {}));
    }
    static Resources now() {
        Resources r;
        r.descriptors = entries("/proc/self/fd");
        r.threads = entries("/proc/self/task");
        std::ifstream statm("/proc/self/statm");
        size_t pages = 0;
        statm >> pages >> pages;
        r.residentKiB = pages * static_cast<size_t>(sysconf(_SC_PAGESIZE)) / 1024;
        return r;
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

// Messages of one raw client's stream, as far as complete.
struct StreamReader {
    std::string pending;
    std::vector<std::pair<int32_t, std::string>> messages;  // type, payload

    // False when the stream breaks the wire format.
    bool take(const char* data, size_t length) {
        pending.append(data, length);
        while (pending.size() >= 16) {
            int32_t fields[4];
            std::memcpy(fields, pending.data(), 16);
            if (fields[0] != 16 || fields[1] != 1 || fields[3] < 0) return false;
            const size_t total = 16 + static_cast<size_t>(fields[3]);
            if (pending.size() < total) break;
            messages.emplace_back(fields[2], pending.substr(16, total - 16));
            pending.erase(0, total);
        }
        return true;
    }
};

class ServerStressTest : public DruxTest::LoggedTest {
protected:
    void SetUp() override {
        DruxTest::LoggedTest::SetUp();
        // Room for a few thousand descriptors (a fresh machine allows 1024).
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = std::max(limit.rlim_cur, std::min<rlim_t>(8192, limit.rlim_max));
        setrlimit(RLIMIT_NOFILE, &limit);
        ASSERT_EQ(1, VantrelServer_Create(&server));
        ASSERT_EQ(1, VantrelServer_Start(server, 0));
        port = Drux::socketLocalPort(server->listenSocket);
    }
    void TearDown() override {
        if (server != nullptr) VantrelServer_Delete(&server);
        DruxTest::LoggedTest::TearDown();
    }
    size_t listed() const { return Drux::serverClientCount(*server); }

    VantrelServerHandle server = nullptr;
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

// The test side of many raw clients: one thread drains every socket with
// poll, so that no broadcast stalls on an unread client; the test thread adds
// clients and asks for departures, which this thread carries out.
class ClientPool {
public:
    ~ClientPool() { stop(); }
    // A joining client comes with its socket, a leaving one without.
    void add(int id, SocketHandle socket) {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.emplace_back(id, socket);
    }
    void leave(int id) { add(id, Drux::kInvalidSocket); }
    void start() {
        thread_ = std::thread([this] { run(); });
    }
    void stop() {
        stopping_.store(true);
        if (thread_.joinable()) thread_.join();
    }
    // Broadcast payloads received, per client; valid after stop().
    std::map<int, std::vector<std::string>> broadcasts;
    std::map<int, size_t> replies;
    std::atomic<size_t> finalMarks{0};
    std::atomic<bool> malformed{false};

private:
    void run() {
        std::map<int, SocketHandle> live;
        std::map<int, StreamReader> streams;
        std::vector<char> buffer(64 * 1024);
        while (!stopping_.load()) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                for (const auto& [id, socket] : requests_) {
                    if (socket != Drux::kInvalidSocket) {
                        live[id] = socket;
                    } else {
                        Drux::socketClose(live[id]);
                        live.erase(id);
                    }
                }
                requests_.clear();
            }
            std::vector<pollfd> polled;
            std::vector<int> ids;
            for (const auto& [id, socket] : live) {
                polled.push_back({socket, POLLIN, 0});
                ids.push_back(id);
            }
            if (::poll(polled.data(), polled.size(), 10) <= 0) continue;
            for (size_t i = 0; i < polled.size(); ++i) {
                if (polled[i].revents == 0) continue;
                size_t received = 0;
                if (!Drux::socketReceive(polled[i].fd, buffer.data(), buffer.size(), &received) || received == 0) {
                    malformed.store(true);  // the server never closes a live client here
                    continue;
                }
                StreamReader& stream = streams[ids[i]];
                const size_t before = stream.messages.size();
                if (!stream.take(buffer.data(), received)) malformed.store(true);
                for (size_t m = before; m < stream.messages.size(); ++m) {
                    const auto& [type, payload] = stream.messages[m];
                    if (type == VANTRELMESSAGETYPE_REPLY) {
                        ++replies[ids[i]];
                    } else {
                        broadcasts[ids[i]].push_back(payload);
                        if (payload == "end") ++finalMarks;
                    }
                }
            }
        }
        for (const auto& entry : live) Drux::socketClose(entry.second);
    }

    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<std::pair<int, SocketHandle>> requests_;
};

SocketHandle connectTo(uint16_t port) {
    const SocketHandle socket = Drux::socketCreate();
    EXPECT_TRUE(Drux::socketConnect(socket, port));
    return socket;
}

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

    ClientPool pool;
    std::map<int, SocketHandle> live;  // the test thread's view: who it may still send to
    std::map<int, int> sent;
    std::set<int> left, joined;
    int nextId = 0;
    auto join = [&] {
        live[nextId] = connectTo(port);
        pool.add(nextId, live[nextId]);
        ++nextId;
    };
    for (int i = 0; i < kClients; ++i) join();
    ASSERT_TRUE(DruxTest::waitUntil([&] { return listed() == kClients; }, kLoadLimit));
    const Resources loaded = Resources::now();
    pool.start();

    std::thread broadcaster([s = server] {
        for (int k = 0; k < kBroadcasts; ++k)
            EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(s, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME,
                                                               ("b" + std::to_string(k)).c_str()));
    });
    for (int round = 0; round < kRounds; ++round) {
        for (const auto& [id, socket] : live)
            sendRaw(socket, messageBytes(8, std::to_string(id) + ":" + std::to_string(sent[id]++)));
        for (int i = 0; i < kChurnPerRound; ++i) {
            const int leaver = live.begin()->first;
            live.erase(leaver);
            left.insert(leaver);
            pool.leave(leaver);
            joined.insert(nextId);
            join();
        }
    }
    broadcaster.join();
    // Every joiner listed and every departure forgotten, then a last broadcast
    // that each live client must receive after everything before it.
    ASSERT_TRUE(DruxTest::waitUntil([&] { return listed() == kClients; }, kLoadLimit));
    EXPECT_EQ(1, VantrelServer_SendMessageToAllClients(server, VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "end"));
    auto allArrived = [&] {
        std::lock_guard<std::mutex> lock(arrivals.mutex);
        for (const auto& [id, socket] : live)
            if (arrivals.arrived[id].size() != static_cast<size_t>(sent[id])) return false;
        return true;
    };
    ASSERT_TRUE(DruxTest::waitUntil([&] { return pool.finalMarks.load() == live.size() && allArrived(); }, kLoadLimit));
    pool.stop();
    EXPECT_FALSE(pool.malformed.load());

    for (const auto& [id, socket] : live) {
        // Whoever was there from the start has every broadcast; a joiner an
        // unbroken run up to the last one.
        const bool original = joined.count(id) == 0;
        EXPECT_TRUE(isRun(pool.broadcasts[id], true, kBroadcasts - 1, original) ||
                    (!original && pool.broadcasts[id].size() == 1))
            << "client " << id;
        EXPECT_EQ(static_cast<size_t>(sent[id]), pool.replies[id]) << "client " << id;
        std::vector<int> expected(static_cast<size_t>(sent[id]));
        std::iota(expected.begin(), expected.end(), 0);
        std::lock_guard<std::mutex> lock(arrivals.mutex);
        EXPECT_EQ(expected, arrivals.arrived[id]) << "client " << id;
    }
    for (int id : left) EXPECT_TRUE(isRun(pool.broadcasts[id], false, -1, true)) << "client " << id;

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
        for (int i = 0; i < kBatch; ++i) batch.push_back(connectTo(port));
        // A reply proves that the server took the connection on.
        for (SocketHandle socket : batch) sendRaw(socket, messageBytes(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, "x"));
        for (SocketHandle socket : batch) ASSERT_EQ(messageBytes(VANTRELMESSAGETYPE_REPLY), readBytes(socket, 16));
        for (size_t i = 0; i < batch.size(); ++i) {
            // Half leave with a reset instead of an orderly close.
            if (i % 2 == 1) {
                const linger abort{1, 0};
                setsockopt(batch[i], SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            }
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
    const SocketHandle silent = connectTo(port);
    ASSERT_TRUE(DruxTest::waitUntil([&] { return listed() == 1; }));
    const SocketHandle reading = connectTo(port);
    ASSERT_TRUE(DruxTest::waitUntil([&] { return servedClients(*server) == 2; }));

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
    Drux::socketClose(silent);
    Drux::socketClose(reading);
}

}  // namespace
