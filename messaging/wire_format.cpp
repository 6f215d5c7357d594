#include "messaging/wire_format.h"

#include "core/log.h"

namespace Drux::wire {
namespace {

void putInt32(uint8_t* out, int32_t value) {
    const uint32_t bits = static_cast<uint32_t>(value);
    out[0] = static_cast<uint8_t>(bits);
    out[1] = static_cast<uint8_t>(bits >> 8);
    out[2] = static_cast<uint8_t>(bits >> 16);
    out[3] = static_cast<uint8_t>(bits >> 24);
}

int32_t getInt32(const uint8_t* in) {
    const uint32_t bits = static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
                          (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
    return static_cast<int32_t>(bits);
}

}  // namespace

VantrelMessageHeader makeHeader(int32_t type, int32_t payloadLength) {
    VantrelMessageHeader header;
    header.headerSize = kHeaderSize;
    header.version = kVersion;
    header.type = type;
    header.payloadLength = payloadLength;
    return header;
}

void encodeHeader(const VantrelMessageHeader& header, HeaderBytes& bytes) {
    putInt32(bytes + 0, header.headerSize);
    putInt32(bytes + 4, header.version);
    putInt32(bytes + 8, header.type);
    putInt32(bytes + 12, header.payloadLength);
}

VantrelMessageHeader decodeHeader(const HeaderBytes& bytes) {
    VantrelMessageHeader header;
    header.headerSize = getInt32(bytes + 0);
    header.version = getInt32(bytes + 4);
    header.type = getInt32(bytes + 8);
    header.payloadLength = getInt32(bytes + 12);
    return header;
}

int32_t validatedType(const VantrelMessageHeader& header, LogLimiter& warnings) {
    int32_t type = header.type;
    if (header.headerSize != kHeaderSize) {
        warnings.warning("Invalid message header size on incoming message.\n");
        type = VANTRELMESSAGETYPE_INVALID;
    }
    if (header.version != kVersion) {
        warnings.warning("Invalid version on incoming message.\n");
        type = VANTRELMESSAGETYPE_INVALID;
    }
    if (type >= VANTRELMESSAGETYPE_INVALID) {
        warnings.warning("Invalid message type.\n");
        type = VANTRELMESSAGETYPE_INVALID;
    }
    return type;
}

}  // namespace Drux::wire
