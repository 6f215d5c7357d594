// The heartbeat thread, which is also the agent's writer: a heartbeat every
// interval while the flag is 1, the queued bytes as the socket takes them,
// and after the stop the drain of the queue. What it waits on: docs/design.md.
#include <memory>

#include "core/figures.h"
#include "messaging/agent_internal.h"

namespace {

// After a failed wait on the socket the writer pauses this long rather than
// spinning; the next flush then reports what is wrong with the connection.
constexpr uint32_t kFailedWaitPauseMs = 100;

}  // namespace

uint32_t VantrelMessageAgent_HeartbeatThread(void* argument) {
    const std::unique_ptr<boost::shared_ptr<Drux::AgentCore>> holder(
        static_cast<boost::shared_ptr<Drux::AgentCore>*>(argument));
    Drux::AgentCore& agent = **holder;
    // lastHeartbeatSeconds was stamped by the start, so the first heartbeat
    // leaves one interval after it.
    while (agent.isRunning.load() == 1) {
        // While the flag is not 1 the stamp does not advance: once the flag is
        // 1 again after a long pause, a heartbeat leaves at once.
        const bool scheduled = agent.heartbeatActive.load() == 1;
        uint32_t dueTick = 0;
        if (scheduled) {
            // An interval of 0 would turn this loop into a busy one.
            uint32_t interval = Drux::figures().heartbeatIntervalSeconds.load();
            if (interval == 0) interval = 1;
            const uint32_t now = Drux::tickSeconds();
            const uint32_t last = agent.lastHeartbeatSeconds.load();
            const int32_t elapsed = static_cast<int32_t>(now - last);
            if (elapsed < 0) {
                // The millisecond timer wrapped (every 49.7 days): the schedule
                // starts over from here rather than waiting for the old stamp.
                agent.lastHeartbeatSeconds.store(now);
                continue;
            }
            if (static_cast<uint32_t>(elapsed) >= interval) {
                // A failed send is logged by the send; the next attempt is one
                // interval later all the same.
                Drux::agentSendMessage(agent, VANTRELMESSAGETYPE_HEARTBEAT, nullptr);
                agent.lastHeartbeatSeconds.store(now);
                continue;
            }
            dueTick = (last + interval) * 1000u;
        }
        // Re-armed before the flush: bytes queued after it signal again.
        agent.writerWake.reset();
        if (!Drux::agentFlushOutgoing(agent)) {
            if (scheduled)
                agent.heartbeatWaker.waitUntilTick(dueTick);
            else
                agent.heartbeatWaker.wait();
            continue;
        }
        int timeoutMs = -1;
        if (scheduled) {
            const int32_t left = static_cast<int32_t>(dueTick - Drux::tickMilliseconds());
            timeoutMs = left > 0 ? left : 0;
        }
        unsigned ready = 0;
        if (Drux::waitSocket(agent.socket.load(), Drux::kSocketWritable, agent.writerWake, timeoutMs, &ready) ==
            Drux::SocketWait::Failed)
            agent.heartbeatWaker.waitFor(kFailedWaitPauseMs);
    }
    Drux::agentDrainOutgoing(agent);
    return 1;
}
