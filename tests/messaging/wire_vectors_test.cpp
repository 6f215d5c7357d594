// The shared wire vectors (tests/vectors/wire.json, also read by the
// dissector's and the JavaScript client's tests): a running message agent
// delivers and answers exactly the expected messages when each stream arrives
// in its chunks. The agent frames, validates and answers through the header
// codec, so this checks the codec's part too.
// The JSON reader includes Boost's old bind header, which announces its
// global placeholders otherwise.
#define BOOST_BIND_GLOBAL_PLACEHOLDERS
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <thread>

#include "messaging_test_support.h"

using namespace MessagingTest;

namespace {

struct Vector {
    std::string name;
    std::vector<std::string> chunks;     // bytes
    std::vector<std::string> delivered;  // as the Recorder writes them
    std::string replies;
    bool closes;  // a header announced more than the limit
};

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::vector<Vector> readVectors() {
    boost::property_tree::ptree root;
    boost::property_tree::read_json(DRUX_WIRE_VECTORS, root);
    std::vector<Vector> vectors;
    for (const auto& [unused, item] : root.get_child("cases")) {
        Vector v{item.get<std::string>("name"), {}, {}, {}, item.get<std::string>("end") == "closed"};
        for (const auto& [unusedChunk, chunk] : item.get_child("chunks")) v.chunks.push_back(fromHex(chunk.data()));
        for (const auto& [unusedMessage, m] : item.get_child("messages")) {
            // property_tree reads JSON null as the text "null"; the vectors hold no payload of that
            // text, nor an empty one (an empty payload travels as none).
            const std::string payload = m.get<std::string>("payload");
            v.delivered.push_back(std::to_string(m.get<int32_t>("type")) + ":" +
                                  (payload == "null" ? "(null)" : payload));
            if (m.get<bool>("answered")) v.replies += kReply;
        }
        vectors.push_back(v);
    }
    return vectors;
}

class WireVectorsTest : public DruxTest::LoggedTest {};

TEST_F(WireVectorsTest, AMessageAgentDeliversAndAnswersEachVectorAsItArrivesInItsChunks) {
    const auto vectors = readVectors();
    ASSERT_GE(vectors.size(), 10u);
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.name);
        RawPeerAgent peer;
        for (const auto& chunk : v.chunks) {
            sendRaw(peer.remote, chunk);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the chunks arrive apart
        }
        EXPECT_EQ(readBytes(peer.remote, v.replies.size()), v.replies);
        EXPECT_EQ(readAvailable(peer.remote, 100), "");  // nothing more: no REPLY to a REPLY or an INVALID
        // The agent stops reading the connection (its owner then closes it).
        if (v.closes) {
            EXPECT_TRUE(DruxTest::waitUntil([&] { return peer.agent->core->heartbeatActive.load() == 0; }));
        } else {
            EXPECT_EQ(peer.agent->core->heartbeatActive.load(), 1);
        }
        ASSERT_TRUE(peer.recorder.waitForCount(v.delivered.size()));
        EXPECT_EQ(peer.recorder.messages(), v.delivered);
    }
}

}  // namespace
