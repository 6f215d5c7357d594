// Sending one whole message: what the socket takes at once leaves from the
// caller's thread, the rest waits in the connection's queue for the writer
// (the heartbeat thread), so no sender ever waits for a peer; and the writer's
// flush and drain of that queue. The threads and the lock: docs/design.md.
#include <cstring>
#include <new>

#include "core/enum_names.h"
#include "core/log.h"
#include "core/platform/clock.h"
#include "core/platform/bounded_string.h"
#include "messaging/agent_internal.h"
#include "messaging/wire_format.h"

namespace Drux {
namespace {

// The queue would pass its bound: the peer has stopped reading. Called with
// the agent's lock held.
void dropStuckConnection(AgentCore& agent) {
    agent.outgoing.clear();
    LogWarningF(320,
                "The peer of socket %d stopped reading: more than %zu bytes would wait to be sent; closing the "
                "connection.\n",
                static_cast<int>(agent.hostSocket.load()), kOutgoingQueueLimit);
    agentCloseConnection(agent);
}

}  // namespace

bool isLoggedType(const AgentCore& agent, int32_t type) {
    if (agent.logAllMessageTypes.load() == 1) return true;
    return type != VANTRELMESSAGETYPE_HEARTBEAT && type != VANTRELMESSAGETYPE_REPLY;
}

void agentWakeWriter(AgentCore& agent) {
    agent.writerWake.signal();
    agent.heartbeatWaker.notify();
}

namespace {

// Sends the bytes of one or more whole messages, or queues what the socket
// does not take now. 1 when they were sent or queued; 0 after logging why not.
int32_t sendWhole(AgentCore& agent, const ByteSpan* parts, size_t count, size_t total) {
    ScopedLock lock(agent.mutex);
    size_t sent = 0;
    if (agent.outgoing.empty()) {
        if (!VantrelMessageAgent_WriteToSocketInternal(agent, parts, count, &sent)) return 0;
    } else if (agent.outgoing.size() + total > kOutgoingQueueLimit) {
        dropStuckConnection(agent);
        return 0;
    }
    if (sent < total) {
        try {
            agent.outgoing.append(parts, count, sent);
        } catch (const std::bad_alloc&) {
            // Part of the message may be on the wire already: the stream
            // cannot go on without the rest.
            LogWarningF(320, "Unable to obtain %zu bytes to queue a message; closing the connection.\n", total - sent);
            agent.outgoing.clear();
            agentCloseConnection(agent);
            return 0;
        }
        agentWakeWriter(agent);
    }
    return 1;
}

bool refuseWhileStopped(const AgentCore& agent) {
    if (agent.isRunning.load() != 0) return false;
    LogError("Cannot send messages when the MessageAgent isn't started.\n");
    return true;
}

}  // namespace

int32_t agentSendMessage(AgentCore& agent, int32_t type, const char* payload) {
    // Measured only up to one byte past the limit: a longer text is refused
    // without walking all of it.
    const size_t length =
        payload != nullptr ? std_strnlen(payload, static_cast<size_t>(wire::kMaxPayloadBytes) + 1) : 0;
    const VantrelMessageHeader header = wire::makeHeader(type, static_cast<int32_t>(length));
    wire::HeaderBytes bytes;
    wire::encodeHeader(header, bytes);

    if (refuseWhileStopped(agent)) return 0;
    if (length > static_cast<size_t>(wire::kMaxPayloadBytes)) {
        LogErrorF(320, "Message payload exceeds the %d byte limit; the message was not sent.\n",
                  wire::kMaxPayloadBytes);
        return 0;
    }
    // Header and payload in one gather send: no copy, and no small first
    // segment for Nagle's algorithm to hold back on a socket without
    // TCP_NODELAY.
    const ByteSpan parts[2] = {{bytes, sizeof bytes}, {payload, length}};
    if (!sendWhole(agent, parts, 2, sizeof bytes + length)) return 0;
    if (isLoggedType(agent, type)) LogInfoF(320, "SendMessage [%s]\n", messageTypeName(type));
    return 1;
}

bool agentFlushOutgoing(AgentCore& agent) {
    ScopedLock lock(agent.mutex);
    while (!agent.outgoing.empty()) {
        ByteSpan parts[16];
        const size_t count = agent.outgoing.front(parts, sizeof parts / sizeof parts[0]);
        size_t sent = 0;
        if (!VantrelMessageAgent_WriteToSocketInternal(agent, parts, count, &sent)) {
            // The connection is gone: what waited for it goes with it.
            agent.outgoing.clear();
            return false;
        }
        if (sent == 0) return true;
        agent.outgoing.consume(sent);
    }
    return false;
}

void agentDrainOutgoing(AgentCore& agent) {
    const uint32_t deadline = agent.stopTick.load() + agentDrainBudgetMs();
    for (;;) {
        // Re-armed before the flush, as in the heartbeat loop.
        agent.writerWake.reset();
        if (!agentFlushOutgoing(agent)) return;
        const int32_t leftMs = static_cast<int32_t>(deadline - tickMilliseconds());
        if (leftMs <= 0) break;
        unsigned ready = 0;
        if (waitSocket(agent.socket.load(), kSocketWritable, agent.writerWake, leftMs, &ready) == SocketWait::Failed)
            break;
    }
    ScopedLock lock(agent.mutex);
    LogWarningF(320,
                "The peer of socket %d did not read the last %zu bytes sent to it before the connection was "
                "closed; they were dropped.\n",
                static_cast<int>(agent.hostSocket.load()), agent.outgoing.size());
    agent.outgoing.clear();
}

}  // namespace Drux
