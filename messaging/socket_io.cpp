// Putting bytes on an agent's socket and taking them off it without ever
// blocking a thread on a peer (docs/design.md).
#include <algorithm>

#include "core/figures.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "core/platform/system_error.h"
#include "messaging/agent_internal.h"

namespace {

// While a message is under way the reader looks at the clock at least this
// often, so that a clock moved by a test is seen without waiting the limit out.
constexpr int32_t kSilenceCheckMs = 1000;

constexpr const char* kReadOperation = "VantrelMessageAgent_ReadFromSocketInternal";

void logReadFailure(Drux::AgentCore& agent, bool reset) {
    const char* warning = reset ? "Failed to read from Vantrel socket buffer (this may indicate that the other side "
                                  "of the connection has closed).\n"
                                : "Received 0 bytes on Vantrel socket when data was expected.\n";
    Drux::LogLimiter* limiter = agent.endWarnings;
    if (limiter == nullptr) {
        LogLastError(kReadOperation);
        Drux::LogWarning(warning);
        return;
    }
    // The same two lines, through the owner's limiter.
    const std::string reason = Drux::lastErrorText();
    if (!reason.empty()) {
        char line[512];
        Drux::boundedPrintf(line, sizeof line, "[%s] %s", kReadOperation, reason.c_str());
        limiter->info(line);
    }
    limiter->warning(warning);
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
    ReceivedBytes& in = agent.received;
    bool stopping = false;
    // Between messages a connection that has just carried one mostly carries
    // the next within moments (an answer, the rest of a burst): the receive
    // itself waits for it a short while, one system call where a wait and a
    // receive would take two. An idle connection is waited on together with
    // the agent's stop signal, without limit, and so is every connection
    // once that short while has passed. Within a message the bytes are
    // mostly there already.
    bool linger = !messageStarted && in.lingering && agent.isRunning.load() == 1;
    bool waitFirst = !messageStarted && !linger;
    for (;;) {
        if (waitFirst) {
            waitFirst = false;
            unsigned ready = 0;
            if (waitSocket(socket, kSocketReadable, agent.readerWake, -1, &ready) == SocketWait::Interrupted)
                stopping = true;
        }
        const IoResult result = linger ? socketReceiveWaiting(socket, buffer, length, received)
                                       : socketReceiveSome(socket, buffer, length, received);
        linger = false;
        switch (result) {
            case IoResult::Done:
                in.arrivalStamped = false;
                in.lingering = agent.receiveCanWait;
                return 1;
            case IoResult::Closed:
                logReadFailure(agent, false);
                return 0;
            case IoResult::Reset:
                logReadFailure(agent, true);
                return 0;
            case IoResult::Failed:
                logReadFailure(agent, false);
                return 0;
            case IoResult::WouldBlock:
                in.lingering = false;
                break;
        }
        // The stop was seen and one more receive made, so that a connection
        // its owner shut down before the stop still reports how it ended.
        if (stopping) return 0;
        int timeoutMs = -1;
        if (messageStarted) {
            // The clock is read only when a message has to wait for its
            // bytes: that moment stands for the last arrival.
            if (!in.arrivalStamped) {
                agent.lastArrivalTick.store(tickMilliseconds());
                in.arrivalStamped = true;
            }
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
                logReadFailure(agent, false);
                return 0;
        }
    }
}

}  // namespace Drux
