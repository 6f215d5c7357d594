// The heartbeat side of an agent: a heartbeat whenever the interval has passed
// since the previous attempt, while the heartbeat flag is 1. The thread sleeps
// until the next heartbeat is due, or until the flag changes or the agent stops.
#include <memory>

#include "core/figures.h"
#include "messaging/agent_internal.h"

uint32_t VantrelMessageAgent_HeartbeatThread(void* argument) {
    const std::unique_ptr<boost::shared_ptr<Drux::AgentCore>> holder(
        static_cast<boost::shared_ptr<Drux::AgentCore>*>(argument));
    Drux::AgentCore& agent = **holder;
    // lastHeartbeatSeconds was stamped by the start, so the first heartbeat
    // leaves one interval after it.
    while (agent.isRunning.load() == 1) {
        if (agent.heartbeatActive.load() != 1) {
            // The stamp does not advance meanwhile: once the flag is 1 again
            // after a long pause, a heartbeat leaves at once.
            agent.heartbeatWaker.wait();
            continue;
        }
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
        agent.heartbeatWaker.waitUntilTick((last + interval) * 1000u);
    }
    return 1;
}
