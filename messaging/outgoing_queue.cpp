#include "messaging/outgoing_queue.h"

namespace Drux {

void OutgoingQueue::append(const ByteSpan* parts, size_t count, size_t skip) {
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) total += parts[i].length;
    if (skip >= total) return;
    // One chunk per message, so that a message costs one allocation here.
    std::vector<uint8_t> chunk;
    chunk.reserve(total - skip);
    for (size_t i = 0; i < count; ++i) {
        const auto* bytes = static_cast<const uint8_t*>(parts[i].data);
        size_t length = parts[i].length;
        const size_t skipped = skip < length ? skip : length;
        skip -= skipped;
        chunk.insert(chunk.end(), bytes + skipped, bytes + length);
    }
    size_ += chunk.size();
    chunks_.push_back(std::move(chunk));
}

size_t OutgoingQueue::front(ByteSpan* parts, size_t max) const {
    size_t filled = 0;
    size_t offset = frontOffset_;
    for (auto chunk = chunks_.begin(); chunk != chunks_.end() && filled < max; ++chunk, offset = 0)
        parts[filled++] = ByteSpan{chunk->data() + offset, chunk->size() - offset};
    return filled;
}

void OutgoingQueue::consume(size_t bytes) {
    size_ -= bytes < size_ ? bytes : size_;
    while (bytes > 0 && !chunks_.empty()) {
        const size_t left = chunks_.front().size() - frontOffset_;
        if (bytes < left) {
            frontOffset_ += bytes;
            return;
        }
        bytes -= left;
        chunks_.pop_front();
        frontOffset_ = 0;
    }
}

void OutgoingQueue::clear() {
    chunks_.clear();
    frontOffset_ = 0;
    size_ = 0;
}

}  // namespace Drux
