// A peer that floods a connection with bad bytes cannot flood the log.
#include <atomic>

#include "messaging_test_support.h"
#include "support/test_system.h"

using namespace MessagingTest;

namespace {

class PeerFloodTest : public DruxTest::LoggedTest {};

// Counts deliveries and notes whether the closing "after" has arrived.
struct Counter {
    static int32_t callback(void* self, int32_t type, const char* payload) {
        auto* counter = static_cast<Counter*>(self);
        counter->delivered.fetch_add(1);
        if (type == VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME && payload != nullptr && std::string(payload) == "after")
            counter->sawAfter = true;
        return 1;
    }
    std::atomic<size_t> delivered{0};
    std::atomic<bool> sawAfter{false};
};

TEST_F(PeerFloodTest, FourMebibytesOfInvalidHeadersLeaveABoundedLog) {
    if (DruxTest::runningUnderWine())
        GTEST_SKIP() << "reading the flood through Wine's socket layer takes tens of seconds, and the count lines "
                        "(one per text and second) then pass the bound that a native read keeps";
    const size_t linesBefore = logLines().size();
    {
        RawPeerAgent peer;
        Counter counter;
        VantrelMessageAgent_SetMessageArrivedCallback(peer.agent, &counter, &Counter::callback);
        // Each header fails all three checks: size, version and type.
        const std::string invalid = headerBytes(99, 7, 1000, 0);
        std::string flood;
        for (size_t i = 0; i < 4 * 1024 * 1024 / invalid.size(); ++i) flood += invalid;
        sendRaw(peer.remote, flood);
        // A good message behind the flood proves that all of it was read.
        sendRaw(peer.remote, messageBytes(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "after"));
        ASSERT_TRUE(DruxTest::waitUntil([&] { return counter.sawAfter.load(); }, std::chrono::seconds(60)));
        EXPECT_EQ(flood.size() / invalid.size() + 1, counter.delivered.load());
    }
    const std::vector<std::string> lines = logLines();
    const size_t written = lines.size() - linesBefore;
    // Unlimited, this would be four lines per header (three checks and the
    // receipt): over a million lines. Limited, five of each text plus one
    // count per text and second of reading.
    EXPECT_LT(written, 200u);
    size_t counts = 0;
    for (const std::string& line : lines)
        if (line.find("\"Invalid message type.\" from this connection were not logged.\n") != std::string::npos)
            ++counts;
    EXPECT_GE(counts, 1u);
    EXPECT_EQ(5, std::count(lines.begin(), lines.end(), "WARNING: Invalid version on incoming message.\n"));
}

}  // namespace
