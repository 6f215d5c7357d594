// The shared wire vectors (tests/vectors/wire.json, also read by the
// dissector's and the JavaScript client's tests): the header codec frames each
// stream into the expected messages, and a running message agent delivers and
// answers exactly those when the stream arrives in its chunks.
// The JSON reader includes Boost's old bind header, which announces its
// global placeholders otherwise.
#define BOOST_BIND_GLOBAL_PLACEHOLDERS
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstring>
#include <optional>
#include <thread>

#include "core/log_limiter.h"
#include "messaging/wire_format.h"
#include "messaging_test_support.h"

using namespace MessagingTest;

namespace {

struct Expected {
    int32_t type;
    std::optional<std::string> payload;
    bool answered;
};

struct Vector {
    std::string name;
    std::vector<std::string> chunks;  // bytes
    std::vector<Expected> messages;
    bool closes;  // a header announced more than the limit
    size_t pending;
};

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::vector<Vector> readVectors() {
    boost::property_tree::ptree root;
    boost::property_tree::read_json(DRUX_WIRE_VECTORS, root);
    std::vector<Vector> vectors;
    for (const auto& [unused, item] : root.get_child("cases")) {
        Vector v;
        v.name = item.get<std::string>("name");
        for (const auto& [unusedChunk, chunk] : item.get_child("chunks")) v.chunks.push_back(fromHex(chunk.data()));
        for (const auto& [unusedMessage, m] : item.get_child("messages")) {
            // property_tree reads JSON null as the text "null"; the vectors hold no payload of that
            // text, nor an empty one (an empty payload travels as none).
            const std::string payload = m.get<std::string>("payload");
            v.messages.push_back({m.get<int32_t>("type"), payload == "null" ? std::nullopt : std::optional(payload),
                                  m.get<bool>("answered")});
        }
        v.closes = item.get<std::string>("end") == "closed";
        v.pending = item.get<size_t>("pending");
        vectors.push_back(v);
    }
    return vectors;
}

// What a receiver makes of the whole stream through the library's codec.
struct Framed {
    std::vector<Expected> messages;
    bool closes = false;
    size_t pending = 0;
};

Framed frame(const std::string& bytes) {
    Framed out;
    Drux::LogLimiter warnings;
    size_t at = 0;
    while (bytes.size() - at >= Drux::wire::kHeaderSize) {
        Drux::wire::HeaderBytes raw;
        std::memcpy(raw, bytes.data() + at, sizeof raw);
        const VantrelMessageHeader header = Drux::wire::decodeHeader(raw);
        if (header.payloadLength > Drux::wire::kMaxPayloadBytes) {
            out.closes = true;
            return out;
        }
        const size_t length = header.payloadLength > 0 ? static_cast<size_t>(header.payloadLength) : 0;
        if (bytes.size() - at - Drux::wire::kHeaderSize < length) break;
        Expected m{Drux::wire::validatedType(header, warnings), std::nullopt, Drux::wire::isAnswered(header)};
        if (length > 0) {
            const char* text = bytes.data() + at + Drux::wire::kHeaderSize;
            m.payload = std::string(text, strnlen(text, length));
        }
        out.messages.push_back(m);
        at += Drux::wire::kHeaderSize + length;
    }
    out.pending = bytes.size() - at;
    return out;
}

std::vector<std::string> recorded(const std::vector<Expected>& messages) {
    std::vector<std::string> list;
    for (const auto& m : messages) list.push_back(std::to_string(m.type) + ":" + (m.payload ? *m.payload : "(null)"));
    return list;
}

class WireVectorsTest : public DruxTest::LoggedTest {};

// Each vector twice: framed whole by the codec, and sent in its chunks to a
// running agent, which delivers and answers exactly the expected messages.
TEST_F(WireVectorsTest, TheCodecAndAMessageAgentMakeEachVectorIntoItsExpectedMessages) {
    const auto vectors = readVectors();
    ASSERT_GE(vectors.size(), 10u);
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.name);
        RawPeerAgent peer;
        std::string all, replies;
        for (const auto& chunk : v.chunks) {
            all += chunk;
            sendRaw(peer.remote, chunk);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the chunks arrive apart
        }
        const Framed got = frame(all);
        EXPECT_EQ(recorded(got.messages), recorded(v.messages));
        for (size_t i = 0; i < std::min(got.messages.size(), v.messages.size()); ++i)
            EXPECT_EQ(got.messages[i].answered, v.messages[i].answered) << "message " << i;
        EXPECT_EQ(got.closes, v.closes);
        if (!v.closes) { EXPECT_EQ(got.pending, v.pending); }

        for (const auto& m : v.messages) replies += m.answered ? kReply : "";
        EXPECT_EQ(readBytes(peer.remote, replies.size()), replies);
        EXPECT_EQ(readAvailable(peer.remote, 100), "");  // nothing more: no REPLY to a REPLY or an INVALID
        // The agent stops reading the connection (its owner then closes it).
        if (v.closes) {
            EXPECT_TRUE(DruxTest::waitUntil([&] { return peer.agent->core->heartbeatActive.load() == 0; }));
        } else {
            EXPECT_EQ(peer.agent->core->heartbeatActive.load(), 1);
        }
        ASSERT_TRUE(peer.recorder.waitForCount(v.messages.size()));
        EXPECT_EQ(peer.recorder.messages(), recorded(v.messages));
    }
}

}  // namespace
