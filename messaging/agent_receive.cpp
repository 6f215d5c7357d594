// The reading side of an agent: one message at a time, answered with a reply
// and handed to the message-arrived callback, until the connection fails.
#include <memory>
#include <new>

#include "core/enum_names.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "core/platform/fault_injection.h"
#include "messaging/agent_internal.h"
#include "messaging/wire_format.h"

namespace {

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

}  // namespace

int32_t VantrelMessageAgent_ReceiveMessage(Drux::AgentCore& agent) {
    Drux::wire::HeaderBytes bytes;
    if (!VantrelMessageAgent_ReadFromSocketInternal(agent, bytes, Drux::wire::kHeaderSize)) return 0;
    const VantrelMessageHeader header = Drux::wire::decodeHeader(bytes);
    const int32_t type = Drux::wire::validatedType(header, agent.peerWarnings);

    std::unique_ptr<char[]> payload;
    if (header.payloadLength > 0) {
        if (header.payloadLength > Drux::wire::kMaxPayloadBytes) {
            Drux::LogWarningF(320, "Message payload of %d bytes exceeds the 16 MiB limit; closing the connection.\n",
                              header.payloadLength);
            return 0;
        }
        if (!Drux::injectedFault(Drux::Fault::Allocation))
            payload.reset(new (std::nothrow) char[static_cast<size_t>(header.payloadLength) + 1]());
        if (!payload) {
            Drux::LogWarningF(320, "Unable to obtain %d bytes for a message payload; closing the connection.\n",
                              header.payloadLength);
            return 0;
        }
        if (!VantrelMessageAgent_ReadFromSocketInternal(agent, payload.get(), header.payloadLength)) return 0;
    }

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
    // No pause between messages: the receive itself blocks until data, an
    // error or the owner's shutdown of the socket arrives.
    while (agent.isRunning.load() == 1) {
        if (!VantrelMessageAgent_ReceiveMessage(agent)) break;
    }
    // The only trace of a lost connection: heartbeats stop, the agent still runs.
    agent.heartbeatActive.store(0);
    return 1;
}
