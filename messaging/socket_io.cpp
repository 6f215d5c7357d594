// Putting bytes on an agent's socket and taking an exact count off it.
#include "core/log.h"
#include "messaging/agent_internal.h"

int32_t VantrelMessageAgent_WriteToSocketInternal(Drux::AgentCore& agent, const void* buffer, int32_t length) {
    const Drux::SocketHandle socket = agent.socket.load();
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    size_t remaining = length > 0 ? static_cast<size_t>(length) : 0;
    // A blocking send takes the whole buffer unless interrupted; whatever it
    // left over goes out right behind it.
    do {
        size_t sent = 0;
        if (!Drux::socketSend(socket, bytes, remaining, &sent)) {
            LogLastError("VantrelMessageAgent_WriteToSocketInternal");
            Drux::LogWarning("Failed to send to socket.\n");
            return 0;
        }
        if (sent == 0) break;
        bytes += sent;
        remaining -= sent < remaining ? sent : remaining;
    } while (remaining > 0);
    return 1;
}

int32_t VantrelMessageAgent_ReadFromSocketInternal(Drux::AgentCore& agent, void* buffer, int32_t length) {
    if (length <= 0) return 1;
    const Drux::SocketHandle socket = agent.socket.load();
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    const size_t total = static_cast<size_t>(length);
    size_t count = 0;
    while (count < total) {
        size_t received = 0;
        if (!Drux::socketReceive(socket, bytes + count, total - count, &received)) {
            const bool reset = Drux::lastSocketError() == Drux::connectionResetErrorCode();
            LogLastError("VantrelMessageAgent_ReadFromSocketInternal");
            if (reset)
                Drux::LogWarning(
                    "Failed to read from Vantrel socket buffer (this may indicate that the other side of the "
                    "connection has closed).\n");
            else
                Drux::LogWarning("Received 0 bytes on Vantrel socket when data was expected.\n");
            return 0;
        }
        if (received == 0) {
            LogLastError("VantrelMessageAgent_ReadFromSocketInternal");
            Drux::LogWarning("Received 0 bytes on Vantrel socket when data was expected.\n");
            return 0;
        }
        count += received;
    }
    return 1;
}
