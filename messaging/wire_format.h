// The 16-byte message header as it travels: four signed 32-bit fields, each in
// little-endian byte order whatever the machine, followed by the payload text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "VantrelTypes.h"
#include "core/log_limiter.h"

namespace Drux::wire {

constexpr int32_t kHeaderSize = 16;
constexpr int32_t kVersion = 1;
// The largest payload a receiver accepts; a header announcing more ends the
// connection instead of obtaining a buffer of that size.
constexpr int32_t kMaxPayloadBytes = 16 * 1024 * 1024;

using HeaderBytes = uint8_t[kHeaderSize];

// A header of the current format for a message of this type and payload length.
VantrelMessageHeader makeHeader(int32_t type, int32_t payloadLength);

void encodeHeader(const VantrelMessageHeader& header, HeaderBytes& bytes);
VantrelMessageHeader decodeHeader(const HeaderBytes& bytes);

// Checks a received header in the fixed order (size, version, type), logging a
// warning for each failed check through the connection's limiter, and returns
// the type to deliver: the header's own, or VANTRELMESSAGETYPE_INVALID when
// any check failed.
int32_t validatedType(const VantrelMessageHeader& header, LogLimiter& warnings);

}  // namespace Drux::wire
