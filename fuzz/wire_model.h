// What the wire rules say a receiver makes of a byte stream: the messages it
// delivers, in order, and how many of them it answers. Both fuzz targets judge
// the library against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "messaging/wire_format.h"

namespace FuzzModel {

// A fuzz target's verdict: a broken rule ends the run as a crash, with its input kept.
inline void check(bool condition) {
    if (!condition) std::abort();
}

struct Delivery {
    int32_t type;
    bool hasPayload;
    std::string payload;  // up to its first zero byte, as a C string reads
    bool operator==(const Delivery& other) const {
        return type == other.type && hasPayload == other.hasPayload && payload == other.payload;
    }
};

struct Outcome {
    std::vector<Delivery> delivered;
    size_t replies = 0;
};

inline int32_t readInt32(const uint8_t* in) {
    return static_cast<int32_t>(static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
                                (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24));
}

// Reads messages until the bytes run out mid-message or a header announces
// more than the limit (both end the connection: nothing more is delivered).
// Without `payloads`, the deliveries carry types only.
inline Outcome expected(const uint8_t* data, size_t size, bool payloads = true) {
    Outcome outcome;
    size_t at = 0;
    while (size - at >= 16) {
        const int32_t headerSize = readInt32(data + at), version = readInt32(data + at + 4);
        int32_t type = readInt32(data + at + 8);
        const int32_t length = readInt32(data + at + 12);
        at += 16;
        if (headerSize != 16 || version != 1 || type >= VANTRELMESSAGETYPE_INVALID) type = VANTRELMESSAGETYPE_INVALID;
        Delivery delivery{type, false, std::string()};
        if (length > 0) {
            if (length > Drux::wire::kMaxPayloadBytes || size - at < static_cast<size_t>(length)) break;
            delivery.hasPayload = true;
            if (payloads) {
                const char* text = reinterpret_cast<const char*>(data + at);
                delivery.payload.assign(text, strnlen(text, static_cast<size_t>(length)));
            }
            at += static_cast<size_t>(length);
        }
        if (type != VANTRELMESSAGETYPE_REPLY && type != VANTRELMESSAGETYPE_INVALID) ++outcome.replies;
        outcome.delivered.push_back(delivery);
    }
    return outcome;
}

}  // namespace FuzzModel
