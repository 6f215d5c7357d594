// Putting bytes on an agent's socket and taking them off it, without ever
// blocking a thread on a peer: sends take what the socket accepts now, and
// receives wait on the socket together with the agent's stop signal.
#include <algorithm>

#include "core/figures.h"
#include "core/log.h"
#include "messaging/agent_internal.h"

namespace {

// While a message is under way the reader looks at the clock at least this
// often, so that a clock moved by a test is seen without waiting the limit out.
constexpr int32_t kSilenceCheckMs = 1000;

void logReadFailure(bool reset) {
    LogLastError("VantrelMessageAgent_ReadFromSocketInternal");
    if (reset)
        Drux::LogWarning(
            "Failed to read from Vantrel socket buffer (this may indicate that the other side of the "
            "connection has closed).\n");
    else
        Drux::LogWarning("Received 0 bytes on Vantrel socket when data was expected.\n");
}

}  // namespace

int32_t VantrelMessageAgent_WriteToSocketInternal(Drux::AgentCore& agent, const Drux::ByteSpan* parts, size_t count,
                                                  size_t* sent) {
    *sent = 0;
    if (Drux::socketSendSome(agent.socket.load(), parts, count, sent) == Drux::IoResult::Failed) {
        LogLastError("VantrelMessageAgent_WriteToSocketInternal");
        Drux::LogWarning("Failed to send to socket.\n");
        return 0;
    }
    return 1;
}

namespace Drux {

void agentCloseConnection(AgentCore& agent) { socketShutdown(agent.socket.load()); }

int32_t agentReceiveSome(AgentCore& agent, void* buffer, size_t length, bool messageStarted, size_t* received) {
    const SocketHandle socket = agent.socket.load();
    bool stopping = false;
    // Between messages the connection is mostly idle: waiting first saves a
    // receive that would find nothing. Within a message the bytes are mostly
    // there already.
    bool waitFirst = !messageStarted;
    for (;;) {
        if (waitFirst) {
            waitFirst = false;
            unsigned ready = 0;
            if (waitSocket(socket, kSocketReadable, agent.readerWake, -1, &ready) == SocketWait::Interrupted)
                stopping = true;
        }
        switch (socketReceiveSome(socket, buffer, length, received)) {
            case IoResult::Done:
                agent.lastArrivalTick.store(tickMilliseconds());
                return 1;
            case IoResult::Closed:
                logReadFailure(false);
                return 0;
            case IoResult::Failed:
                logReadFailure(lastSocketError() == connectionResetErrorCode());
                return 0;
            case IoResult::WouldBlock:
                break;
        }
        // The stop was seen and one more receive made, so that a connection
        // its owner shut down before the stop still reports how it ended.
        if (stopping) return 0;
        int timeoutMs = -1;
        if (messageStarted) {
            const int64_t limitMs = static_cast<int64_t>(figures().silenceLimitSeconds.load()) * 1000;
            const int64_t silentMs = static_cast<int32_t>(tickMilliseconds() - agent.lastArrivalTick.load());
            if (silentMs >= limitMs) {
                LogWarningF(320, "A message on socket %d stalled for more than %u seconds; closing the connection.\n",
                            static_cast<int>(agent.hostSocket.load()), figures().silenceLimitSeconds.load());
                agentCloseConnection(agent);
                return 0;
            }
            timeoutMs = static_cast<int>(std::min<int64_t>(limitMs - silentMs, kSilenceCheckMs));
        }
        unsigned ready = 0;
        switch (waitSocket(socket, kSocketReadable, agent.readerWake, timeoutMs, &ready)) {
            case SocketWait::Ready:
            case SocketWait::TimedOut:
                break;
            case SocketWait::Interrupted:
                stopping = true;
                break;
            case SocketWait::Failed:
                logReadFailure(false);
                return 0;
        }
    }
}

}  // namespace Drux

int32_t VantrelMessageAgent_ReadFromSocketInternal(Drux::AgentCore& agent, void* buffer, int32_t length,
                                                   bool messageStarted) {
    if (length <= 0) return 1;
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    const size_t total = static_cast<size_t>(length);
    for (size_t count = 0; count < total;) {
        size_t received = 0;
        if (!Drux::agentReceiveSome(agent, bytes + count, total - count, messageStarted, &received)) return 0;
        count += received;
        messageStarted = true;
    }
    return 1;
}
