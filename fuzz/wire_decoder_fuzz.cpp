// The message decoder in process: every 16 bytes decode to the fields they
// carry and encode back to the same bytes, validation yields the header's own
// type exactly when size, version and type are all acceptable, and framing a
// stream by the announced payload lengths agrees with the model.
#include <cstring>

#include "fuzz/wire_model.h"
#include "messaging/wire_format.h"

using FuzzModel::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One limiter for the whole input, as one connection has one.
    Drux::LogLimiter warnings;
    const FuzzModel::Outcome model = FuzzModel::expected(data, size, false);
    size_t at = 0, delivered = 0, replies = 0;
    while (size - at >= Drux::wire::kHeaderSize) {
        Drux::wire::HeaderBytes bytes;
        std::memcpy(bytes, data + at, sizeof bytes);
        at += sizeof bytes;
        const VantrelMessageHeader header = Drux::wire::decodeHeader(bytes);
        Drux::wire::HeaderBytes again;
        Drux::wire::encodeHeader(header, again);
        check(std::memcmp(bytes, again, sizeof bytes) == 0);

        const int32_t type = Drux::wire::validatedType(header, warnings);
        const bool acceptable = header.headerSize == Drux::wire::kHeaderSize &&
                                header.version == Drux::wire::kVersion && header.type < VANTRELMESSAGETYPE_INVALID;
        check(type == (acceptable ? header.type : VANTRELMESSAGETYPE_INVALID));

        if (header.payloadLength > 0) {
            const size_t length = static_cast<size_t>(header.payloadLength);
            if (header.payloadLength > Drux::wire::kMaxPayloadBytes || size - at < length) break;
            at += length;
        }
        check(delivered < model.delivered.size() && model.delivered[delivered].type == type);
        ++delivered;
        if (type != VANTRELMESSAGETYPE_REPLY && type != VANTRELMESSAGETYPE_INVALID) ++replies;
    }
    check(delivered == model.delivered.size() && replies == model.replies);

    // A header made for any type and length decodes to what was made.
    if (size >= 8) {
        const int32_t type = FuzzModel::readInt32(data), length = FuzzModel::readInt32(data + 4);
        Drux::wire::HeaderBytes bytes;
        Drux::wire::encodeHeader(Drux::wire::makeHeader(type, length), bytes);
        const VantrelMessageHeader decoded = Drux::wire::decodeHeader(bytes);
        check(decoded.headerSize == 16 && decoded.version == 1 && decoded.type == type &&
              decoded.payloadLength == length);
    }
    return 0;
}
