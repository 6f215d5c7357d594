// Sending one whole message: header and payload under the agent's lock, so
// that no other sender's bytes come between them.
#include <cstring>

#include "core/enum_names.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "messaging/agent_internal.h"
#include "messaging/wire_format.h"

namespace Drux {
namespace {

struct CombinedMessage {
    uint8_t bytes[2048];
};

}  // namespace

bool isLoggedType(const AgentCore& agent, int32_t type) {
    if (agent.logAllMessageTypes.load() == 1) return true;
    return type != VANTRELMESSAGETYPE_HEARTBEAT && type != VANTRELMESSAGETYPE_REPLY;
}

int32_t agentSendMessage(AgentCore& agent, int32_t type, const char* payload) {
    // Measured only up to one byte past the limit: a longer text is refused
    // without walking all of it.
    const size_t length = payload != nullptr ? std_strnlen(payload, static_cast<size_t>(wire::kMaxPayloadBytes) + 1) : 0;
    const VantrelMessageHeader header = wire::makeHeader(type, static_cast<int32_t>(length));
    wire::HeaderBytes bytes;
    wire::encodeHeader(header, bytes);

    if (agent.isRunning.load() == 0) {
        LogError("Cannot send messages when the MessageAgent isn't started.\n");
        return 0;
    }
    if (length > static_cast<size_t>(wire::kMaxPayloadBytes)) {
        LogErrorF(320, "Message payload exceeds the %d byte limit; the message was not sent.\n",
                  wire::kMaxPayloadBytes);
        return 0;
    }
    if (length > 0 && length <= sizeof(CombinedMessage::bytes) - wire::kHeaderSize) {
        // A short payload leaves in the same send as its header: the same
        // bytes on the wire, but one segment instead of two, so the reader
        // wakes once per message.
        CombinedMessage combined;
        std::memcpy(combined.bytes, bytes, wire::kHeaderSize);
        std::memcpy(combined.bytes + wire::kHeaderSize, payload, length);
        ScopedLock lock(agent.mutex);
        if (!VantrelMessageAgent_WriteToSocketInternal(agent, combined.bytes,
                                                       static_cast<int32_t>(wire::kHeaderSize + length)))
            return 0;
    } else {
        ScopedLock lock(agent.mutex);
        if (!VantrelMessageAgent_WriteToSocketInternal(agent, bytes, wire::kHeaderSize)) return 0;
        if (length > 0 && !VantrelMessageAgent_WriteToSocketInternal(agent, payload, static_cast<int32_t>(length)))
            return 0;
    }
    if (isLoggedType(agent, type)) LogInfoF(320, "SendMessage [%s]\n", messageTypeName(type));
    return 1;
}

}  // namespace Drux
