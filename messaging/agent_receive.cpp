// The reading side of an agent: one message at a time, answered with a reply
// and handed to the message-arrived callback, until the connection fails.
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

// A payload buffer starts this large (or at the announced size, if smaller)
// and doubles as the bytes fill it, so that an announcement alone costs little.
constexpr size_t kFirstPayloadBytes = 64 * 1024;

void deliver(Drux::AgentCore& agent, VantrelMessageArrivedCallback callback, int32_t type, const char* payload) {
    try {
        callback(agent.callbackUserData.load(), type, payload);
    } catch (...) {
        // A callback written in C++ may throw; the reading thread goes on.
        Drux::LogError("The MessageArrivedCallback raised an exception; the message was dropped.\n");
    }
}

// Only a broken or hostile peer sends invalid headers, and it can send them
// without end: their lines go through the connection's limiter.
void logReceipt(Drux::AgentCore& agent, int32_t type) {
    if (type != VANTRELMESSAGETYPE_INVALID) {
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

// Reads a payload of `length` bytes into a zero-terminated buffer that grows
// with what arrives. False when the connection ended (logged).
bool readPayload(Drux::AgentCore& agent, int32_t length, std::unique_ptr<char[]>& payload) {
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
    if (!growTo(nextSize(kFirstPayloadBytes))) return payloadUnobtainable(agent, length);
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

// Reads one message off the connection: its delivered type and payload (null
// when it has none). False when the connection ended.
bool readMessage(Drux::AgentCore& agent, int32_t& type, std::unique_ptr<char[]>& payload) {
    Drux::wire::HeaderBytes bytes;
    if (!VantrelMessageAgent_ReadFromSocketInternal(agent, bytes, Drux::wire::kHeaderSize, false)) return false;
    const VantrelMessageHeader header = Drux::wire::decodeHeader(bytes);
    type = Drux::wire::validatedType(header, agent.peerWarnings);
    if (header.payloadLength <= 0) return true;
    if (header.payloadLength > Drux::wire::kMaxPayloadBytes) {
        Drux::LogWarningF(320, "Message payload of %d bytes exceeds the 16 MiB limit; closing the connection.\n",
                          header.payloadLength);
        Drux::agentCloseConnection(agent);
        return false;
    }
    return readPayload(agent, header.payloadLength, payload);
}

}  // namespace

int32_t VantrelMessageAgent_ReceiveMessage(Drux::AgentCore& agent) {
    int32_t type = VANTRELMESSAGETYPE_INVALID;
    std::unique_ptr<char[]> payload;
    const bool read = readMessage(agent, type, payload);
    agent.payloadCapacity.store(0);
    if (!read) return 0;

    // Stopped meanwhile: the message is dropped without reply or delivery.
    if (agent.isRunning.load() == 0) return 1;

    if (type != VANTRELMESSAGETYPE_REPLY && type != VANTRELMESSAGETYPE_INVALID)
        Drux::agentSendMessage(agent, VANTRELMESSAGETYPE_REPLY, nullptr);

    const VantrelMessageArrivedCallback callback = agent.messageArrivedCallback.load();
    if (callback == nullptr) {
        agent.peerWarnings.warning("Message arived, but there is no MessageArrivedCallback.\n");
        return 1;
    }
    if (Drux::isLoggedType(agent, type)) logReceipt(agent, type);
    deliver(agent, callback, type, payload.get());
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
