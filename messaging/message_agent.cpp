// The exported message agent: creation, start, sending, the heartbeat flag and
// deletion. The reading and heartbeat threads live in their own files.
#include <boost/make_shared.hpp>

#include "core/export_guard.h"
#include "core/figures.h"
#include "core/log.h"
#include "messaging/agent_internal.h"

namespace {

// Null handles are refused with a line that names the export.
bool missingAgent(const void* agent, const char* exportName) {
    if (agent != nullptr) return false;
    Drux::LogErrorF(320, "%s was called without a MessageAgent.\n", exportName);
    return true;
}

// The getters: a null handle or no place for the value is refused with a line
// that names the export; otherwise the field's value is copied out.
int32_t readAgentValue(const char* exportName, VantrelMessageAgentHandle agent, int32_t* value,
                       std::atomic<int32_t> Drux::AgentCore::*field) {
    return Drux::guardExport(exportName, 0, [&]() -> int32_t {
        if (missingAgent(agent, exportName)) return 0;
        if (value == nullptr) {
            Drux::LogErrorF(320, "%s was called without a place for the value.\n", exportName);
            return 0;
        }
        *value = (agent->core.get()->*field).load();
        return 1;
    });
}

// Starts one thread body with its own reference to the agent's state. On
// failure the system's reason is logged and the result is empty.
boost::shared_ptr<Drux::Thread> startAgentThread(uint32_t (*body)(void*),
                                                 const boost::shared_ptr<Drux::AgentCore>& core) {
    auto* reference = new boost::shared_ptr<Drux::AgentCore>(core);
    boost::shared_ptr<Drux::Thread> thread = Drux::createThread(body, reference);
    if (!thread || !thread->handle) {
        LogLastError("VantrelMessageAgent_Start");
        // The body never ran, so the reference is still ours.
        delete reference;
        return boost::shared_ptr<Drux::Thread>();
    }
    return thread;
}

// Wakes both threads out of their waits once isRunning is 0.
void wakeForStop(Drux::AgentCore& core) {
    core.readerWake.signal();
    Drux::agentWakeWriter(core);
}

// Stops a running agent: true when this call stopped it. The stop's moment is
// stamped first, so a writer that sees the agent stopped also sees when.
bool stopAgent(Drux::AgentCore& core) {
    if (core.isRunning.load() != 1) return false;
    core.stopTick.store(Drux::tickMilliseconds());
    if (core.isRunning.exchange(0) != 1) return false;
    wakeForStop(core);
    return true;
}

// A core for a start that follows a failed one: a thread of the failed start
// may still hold the old core (and its duplicate socket) for a moment.
boost::shared_ptr<Drux::AgentCore> freshCoreLike(const Drux::AgentCore& old) {
    auto core = boost::make_shared<Drux::AgentCore>();
    core->mutex = Drux::createMutex();
    core->heartbeatActive.store(old.heartbeatActive.load());
    core->callbackUserData.store(old.callbackUserData.load());
    core->messageArrivedCallback.store(old.messageArrivedCallback.load());
    core->logAllMessageTypes.store(old.logAllMessageTypes.load());
    core->connectionEnded = old.connectionEnded;
    return core;
}

}  // namespace

namespace Drux {

AgentCore::~AgentCore() {
    const SocketHandle own = socket.load();
    if (own != kInvalidSocket) socketClose(own);
}

void agentRequestStop(VantrelMessageAgent& agent) {
    if (stopAgent(*agent.core)) agent.stopRequested = true;
}

uint32_t agentDrainBudgetMs() {
    const uint32_t waitMs = figures().threadShutdownWaitMs.load();
    return waitMs - waitMs / 10;
}

}  // namespace Drux

extern "C" {

VANTREL_API int32_t VantrelMessageAgent_Create(VantrelMessageAgentHandle* agent) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
        if (agent == nullptr) {
            Drux::LogError("VantrelMessageAgent_Create was called without a place for the new MessageAgent.\n");
            return 0;
        }
        auto* created = new VantrelMessageAgent;
        created->core = boost::make_shared<Drux::AgentCore>();
        created->core->mutex = Drux::createMutex();
        *agent = created;
        return 1;
    });
}

VANTREL_API int32_t VantrelMessageAgent_SetMessageArrivedCallback(VantrelMessageAgentHandle agent, void* userData,
                                                                  VantrelMessageArrivedCallback callback) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
        if (missingAgent(agent, "VantrelMessageAgent_SetMessageArrivedCallback")) return 0;
        agent->core->callbackUserData.store(userData);
        agent->core->messageArrivedCallback.store(callback);
        return 1;
    });
}

VANTREL_API int32_t VantrelMessageAgent_Start(VantrelMessageAgentHandle agent, VantrelSocket socket) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
        if (missingAgent(agent, "VantrelMessageAgent_Start")) return 0;
        Drux::AgentCore& core = *agent->core;
        if (core.isRunning.load() == 1) {
            Drux::LogError("This MessageAgent is already started.\n");
            return 0;
        }
        if (socket == 0) {
            Drux::LogError("Socket cannot be null.\n");
            return 0;
        }
        if (core.socket.load() != Drux::kInvalidSocket) agent->core = freshCoreLike(core);
        Drux::AgentCore& started = *agent->core;
        // The agent's own handle: whatever the host later does with its own,
        // the threads never use a descriptor number they do not hold.
        const Drux::SocketHandle own = Drux::socketDuplicate(socket);
        if (own == Drux::kInvalidSocket) {
            LogLastError("VantrelMessageAgent_Start");
            Drux::LogError("Unable to duplicate the MessageAgent socket.\n");
            return 0;
        }
        Drux::socketSetNonBlocking(own);
        Drux::socketSetNoDelay(own);
        started.receiveCanWait = Drux::socketSetReceiveWait(own, Drux::figures().readerReceiveWaitMs.load());
        // All before the threads start: their loops run only while isRunning is 1.
        started.socket.store(own);
        started.hostSocket.store(socket);
        started.lastHeartbeatSeconds.store(Drux::tickSeconds());
        started.isRunning.store(1);

        agent->socketThread = startAgentThread(VantrelMessageAgent_SocketThread, agent->core);
        if (!agent->socketThread) {
            Drux::LogError("Failed to start client socket thread.\n");
            started.isRunning.store(0);
            return 0;
        }
        agent->heartbeatThread = startAgentThread(VantrelMessageAgent_HeartbeatThread, agent->core);
        if (!agent->heartbeatThread) {
            Drux::LogError("Failed to start client heartbeat thread.\n");
            // The reading thread leaves its wait at once and ends.
            started.isRunning.store(0);
            wakeForStop(started);
            return 0;
        }
        return 1;
    });
}

VANTREL_API int32_t VantrelMessageAgent_SendMessage(VantrelMessageAgentHandle agent, int32_t messageType,
                                                    const char* payload) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
        if (missingAgent(agent, "VantrelMessageAgent_SendMessage")) return 0;
        return Drux::agentSendMessage(*agent->core, messageType, payload);
    });
}

VANTREL_API int32_t VantrelMessageAgent_SetHeartbeatActive(VantrelMessageAgentHandle agent, int32_t active) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
        if (missingAgent(agent, "VantrelMessageAgent_SetHeartbeatActive")) return 0;
        agent->core->heartbeatActive.store(active);
        Drux::agentWakeWriter(*agent->core);
        return 1;
    });
}

VANTREL_API int32_t VantrelMessageAgent_GetHeartbeatActive(VantrelMessageAgentHandle agent, int32_t* active) {
    return readAgentValue(__func__, agent, active, &Drux::AgentCore::heartbeatActive);
}

VANTREL_API int32_t VantrelMessageAgent_GetIsRunning(VantrelMessageAgentHandle agent, int32_t* running) {
    return readAgentValue(__func__, agent, running, &Drux::AgentCore::isRunning);
}

VANTREL_API int32_t VantrelMessageAgent_Delete(VantrelMessageAgentHandle* agent) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
        if (missingAgent(agent, "VantrelMessageAgent_Delete")) return 0;
        if (missingAgent(*agent, "VantrelMessageAgent_Delete")) return 0;
        VantrelMessageAgent* deleted = *agent;
        Drux::AgentCore& core = *deleted->core;
        if (stopAgent(core) || deleted->stopRequested) {
            // The reading thread ends at once; the heartbeat thread first
            // sends what was accepted for sending before the stop, as far as
            // the peer reads it within the drain budget.
            const uint32_t waitMs = Drux::figures().threadShutdownWaitMs.load();
            if (Drux::waitForThread(deleted->socketThread, waitMs) != Drux::kWaitObject0)
                Drux::LogWarning("SocketThread failed to shut down correctly.\n");
            if (Drux::waitForThread(deleted->heartbeatThread, waitMs) != Drux::kWaitObject0)
                Drux::LogWarning("HeartbeatThread failed to shut down correctly.\n");
            // Then our side of the connection ends, whoever else holds a
            // handle to it. Only the sending side: shutting receiving down
            // would make Windows reset the connection at the first byte the
            // peer still sends (a REPLY to our last message), and a reset may
            // cost the peer what it has not read yet.
            Drux::socketShutdownSending(core.socket.load());
        }
        // A thread still running keeps its own reference to the state.
        deleted->heartbeatThread.reset();
        deleted->socketThread.reset();
        delete deleted;
        *agent = nullptr;
        return 1;
    });
}

}  // extern "C"
