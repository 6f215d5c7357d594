// The reading side of an agent: the connection's bytes arrive in bursts, one
// receive each, into the reading thread's buffer; messages are parsed out of
// it one at a time, each answered with a REPLY before it is handed to the
// message-arrived callback, until the connection fails.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/enum_names.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "core/platform/fault_injection.h"
#include "messaging/agent_internal.h"
#include "messaging/wire_format.h"

namespace {

using Drux::kLargestBufferedMessage;
using Drux::wire::kHeaderSize;

// A payload buffer of its own starts this large (or at the announced size, if
// smaller) and doubles as the bytes fill it, so that an announcement alone
// costs little.
constexpr size_t kFirstPayloadBytes = 64 * 1024;

void deliver(Drux::AgentCore& agent, VantrelMessageArrivedCallback callback, int32_t type, const char* payload) {
    try {
        callback(agent.callbackUserData.load(), type, payload);
    } catch (...) {
        // A callback written in C++ may throw; the reading thread goes on.
        Drux::LogError("The MessageArrivedCallback raised an exception; the message was dropped.\n");
    }
}

// Only a broken or hostile peer sends invalid headers or types outside the
// table (a negative type passes the header's checks), and it can send them
// without end: their lines go through the connection's limiter.
void logReceipt(Drux::AgentCore& agent, int32_t type) {
    if (type >= 0 && type != VANTRELMESSAGETYPE_INVALID) {
        Drux::LogInfoF(320, "ReceiveMessage [%s]\n", Drux::messageTypeName(type));
        return;
    }
    char line[320];
    Drux::boundedPrintf(line, sizeof line, "ReceiveMessage [%s]\n", Drux::messageTypeName(type));
    agent.peerWarnings.info(line);
}

bool payloadUnobtainable(Drux::AgentCore& agent, int32_t length) {
    Drux::LogWarningF(320, "Unable to obtain %d bytes for a message payload; closing the connection.\n", length);
    Drux::agentCloseConnection(agent);
    return false;
}

Drux::ReceivedBytes& buffered(Drux::AgentCore& agent) { return agent.received; }

// Makes room for at least `wanted` bytes from the start of the buffer,
// keeping what is buffered; the buffer is obtained at the first message and
// grows only for a message that needs it. False when the memory could not be
// obtained (logged; the connection is closed).
bool reserve(Drux::AgentCore& agent, size_t wanted, int32_t payloadLength) {
    Drux::ReceivedBytes& in = buffered(agent);
    if (in.capacity >= wanted) return true;
    size_t capacity = in.capacity > 0 ? in.capacity : Drux::kFirstReceiveBufferBytes;
    while (capacity < wanted) capacity *= 2;
    std::unique_ptr<uint8_t[]> larger;
    // Only growth is for a payload; the first buffer comes with the connection.
    if (in.capacity == 0 || !Drux::injectedFault(Drux::Fault::Allocation))
        larger.reset(new (std::nothrow) uint8_t[capacity + 1]);
    if (!larger) {
        if (in.capacity > 0) return payloadUnobtainable(agent, payloadLength);
        Drux::LogWarningF(320, "Unable to obtain %zu bytes to read socket %d; closing the connection.\n", capacity + 1,
                          static_cast<int>(agent.hostSocket.load()));
        Drux::agentCloseConnection(agent);
        return false;
    }
    if (in.end > in.begin) std::memcpy(larger.get(), in.bytes.get() + in.begin, in.end - in.begin);
    in.bytes = std::move(larger);
    in.capacity = capacity;
    in.end -= in.begin;
    in.begin = 0;
    return true;
}

// Receives until at least `wanted` bytes (no more than the capacity) are
// buffered, each receive taking all the room there is, so one receive brings
// a whole burst. The first byte of a message may be awaited without limit;
// later ones fall under the silence limit. False when the connection ended.
bool fill(Drux::AgentCore& agent, size_t wanted) {
    Drux::ReceivedBytes& in = buffered(agent);
    if (in.begin + wanted > in.capacity) {
        std::memmove(in.bytes.get(), in.bytes.get() + in.begin, in.end - in.begin);
        in.end -= in.begin;
        in.begin = 0;
    }
    while (in.end - in.begin < wanted) {
        size_t received = 0;
        if (!Drux::agentReceiveSome(agent, in.bytes.get() + in.end, in.capacity - in.end, in.end > in.begin, &received))
            return false;
        in.end += received;
    }
    return true;
}

void consume(Drux::ReceivedBytes& in, size_t bytes) {
    in.begin += bytes;
    if (in.begin == in.end) in.begin = in.end = 0;
}

VantrelMessageHeader headerAt(const Drux::ReceivedBytes& in, size_t offset) {
    return Drux::wire::decodeHeader(*reinterpret_cast<const Drux::wire::HeaderBytes*>(in.bytes.get() + offset));
}

// The payload length a header stands for: none for a negative announcement.
size_t payloadBytes(const VantrelMessageHeader& header) {
    return header.payloadLength > 0 ? static_cast<size_t>(header.payloadLength) : 0;
}

// Reads a payload too long for the receive buffer into a zero-terminated buffer
// of its own that grows with what arrives: first what is buffered already
// (all of it belongs to this payload), then straight from the socket. False
// when the connection ended (logged).
bool readLongPayload(Drux::AgentCore& agent, int32_t length, std::unique_ptr<char[]>& payload) {
    Drux::ReceivedBytes& in = buffered(agent);
    const size_t total = static_cast<size_t>(length);
    size_t capacity = 0;
    size_t count = 0;
    auto growTo = [&](size_t wanted) {
        std::unique_ptr<char[]> larger;
        if (!Drux::injectedFault(Drux::Fault::Allocation)) larger.reset(new (std::nothrow) char[wanted]);
        if (!larger) return false;
        if (count > 0) std::memcpy(larger.get(), payload.get(), count);
        payload = std::move(larger);
        capacity = wanted;
        agent.payloadCapacity.store(capacity);
        return true;
    };
    // A size that would hold every byte holds the terminator too, so the
    // capacity is always either short of the payload or the whole of it.
    auto nextSize = [total](size_t wanted) { return wanted >= total ? total + 1 : wanted; };
    // All that is buffered belongs to this payload: it is longer than the buffer.
    const size_t already = in.end - in.begin;
    if (!growTo(nextSize(std::max(kFirstPayloadBytes, already)))) return payloadUnobtainable(agent, length);
    std::memcpy(payload.get(), in.bytes.get() + in.begin, already);
    count = already;
    consume(in, already);
    while (count < total) {
        if (count == capacity && !growTo(nextSize(capacity * 2))) return payloadUnobtainable(agent, length);
        size_t received = 0;
        if (!Drux::agentReceiveSome(agent, payload.get() + count, std::min(capacity, total) - count, true, &received))
            return false;
        count += received;
    }
    payload[total] = '\0';
    return true;
}

// The REPLY of a message about to be handed over: it leaves before the
// message's callback runs, and so after everything the previous message's
// callback sent on this connection.
void answer(Drux::AgentCore& agent, const VantrelMessageHeader& header) {
    // Its result is ignored: a failed send has logged why.
    if (Drux::wire::isAnswered(header)) Drux::agentSendMessage(agent, VANTRELMESSAGETYPE_REPLY, nullptr);
}

void handOver(Drux::AgentCore& agent, int32_t type, const char* payload) {
    const VantrelMessageArrivedCallback callback = agent.messageArrivedCallback.load();
    if (callback == nullptr) {
        agent.peerWarnings.warning("Message arived, but there is no MessageArrivedCallback.\n");
        return;
    }
    if (Drux::isLoggedType(agent, type)) logReceipt(agent, type);
    deliver(agent, callback, type, payload);
}

}  // namespace

int32_t VantrelMessageAgent_ReceiveMessage(Drux::AgentCore& agent) {
    if (!reserve(agent, kHeaderSize, 0) || !fill(agent, kHeaderSize)) return 0;
    Drux::ReceivedBytes& in = buffered(agent);
    const VantrelMessageHeader header = headerAt(in, in.begin);
    const int32_t type = Drux::wire::validatedType(header, agent.peerWarnings);
    if (header.payloadLength > Drux::wire::kMaxPayloadBytes) {
        Drux::LogWarningF(320, "Message payload of %d bytes exceeds the 16 MiB limit; closing the connection.\n",
                          header.payloadLength);
        Drux::agentCloseConnection(agent);
        return 0;
    }
    const size_t length = payloadBytes(header);
    const size_t size = kHeaderSize + length;

    if (size > kLargestBufferedMessage) {
        consume(in, kHeaderSize);
        std::unique_ptr<char[]> payload;
        const bool read = readLongPayload(agent, header.payloadLength, payload);
        agent.payloadCapacity.store(0);
        if (!read) return 0;
        // Stopped meanwhile: the message is dropped without reply or delivery.
        if (agent.isRunning.load() == 0) return 1;
        answer(agent, header);
        handOver(agent, type, payload.get());
        return 1;
    }

    if (!reserve(agent, size, header.payloadLength) || !fill(agent, size)) return 0;
    const size_t start = in.begin;
    // Stopped meanwhile (perhaps by the previous message's callback): the
    // message is dropped without reply or delivery.
    if (agent.isRunning.load() == 0) {
        consume(in, size);
        return 1;
    }
    answer(agent, header);
    // The payload is handed over where it arrived: the byte behind it (the
    // next message's, or spare room) holds its terminator meanwhile.
    char* payload = nullptr;
    uint8_t behind = 0;
    if (length > 0) {
        payload = reinterpret_cast<char*>(in.bytes.get() + start + kHeaderSize);
        behind = static_cast<uint8_t>(payload[length]);
        payload[length] = '\0';
    }
    handOver(agent, type, payload);
    if (payload != nullptr) payload[length] = static_cast<char>(behind);
    consume(in, size);
    return 1;
}

uint32_t VantrelMessageAgent_SocketThread(void* argument) {
    const std::unique_ptr<boost::shared_ptr<Drux::AgentCore>> holder(
        static_cast<boost::shared_ptr<Drux::AgentCore>*>(argument));
    Drux::AgentCore& agent = **holder;
    // No pause between messages: the receive itself waits until data, an
    // error, the owner's shutdown of the socket or the agent's stop arrives.
    while (agent.isRunning.load() == 1) {
        if (!VantrelMessageAgent_ReceiveMessage(agent)) break;
    }
    // The only trace of a lost connection: heartbeats stop, the agent still runs.
    agent.heartbeatActive.store(0);
    if (agent.isRunning.load() == 1 && agent.connectionEnded) {
        try {
            agent.connectionEnded();
        } catch (...) {
            Drux::LogError("The connection-ended handler raised an exception.\n");
        }
    }
    return 1;
}
