// The bytes of one connection that the socket has not taken yet, in the order
// they are to leave. Not locked itself: the agent's lock guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "core/platform/socket.h"

namespace Drux {

class OutgoingQueue {
public:
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Appends the bytes of parts[0..count) except their first `skip` bytes
    // (those the socket already took). Throws std::bad_alloc.
    void append(const ByteSpan* parts, size_t count, size_t skip);
    // Fills up to `max` spans with the queued bytes from the front, in order;
    // returns how many it filled.
    size_t front(ByteSpan* parts, size_t max) const;
    // Drops the first `bytes` bytes (those the socket took).
    void consume(size_t bytes);
    void clear();

private:
    std::deque<std::vector<uint8_t>> chunks_;
    size_t frontOffset_ = 0;  // bytes of chunks_.front() already sent
    size_t size_ = 0;
};

}  // namespace Drux
