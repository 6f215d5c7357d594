// The message agent's internals, shared by the agent's own files, the server,
// the client and the tests.
//
// The exported handle (struct VantrelMessageAgent) is owned by whoever created
// it; the state the threads work on lives in AgentCore, which each running
// thread holds a shared reference to. A thread that outlives its wait in
// VantrelMessageAgent_Delete therefore never touches freed memory.
#pragma once

#include <boost/shared_ptr.hpp>
#include <atomic>
#include <cstdint>

#include "VantrelMessageAgent.h"
#include "core/log_limiter.h"
#include "core/platform/clock.h"
#include "core/platform/mutex.h"
#include "core/platform/socket.h"
#include "core/platform/thread.h"

namespace Drux {

struct AgentCore {
    std::atomic<SocketHandle> socket{kInvalidSocket};  // not owned
    boost::shared_ptr<Mutex> mutex;                    // held while one message is written
    std::atomic<int32_t> isRunning{0};
    std::atomic<int32_t> heartbeatActive{1};
    std::atomic<uint32_t> lastHeartbeatSeconds{0};
    std::atomic<void*> callbackUserData{nullptr};
    std::atomic<VantrelMessageArrivedCallback> messageArrivedCallback{nullptr};
    std::atomic<int32_t> logAllMessageTypes{0};
    // Wakes the heartbeat thread when its flag changes or the agent stops.
    Waker heartbeatWaker;
    // The warnings that the peer's bytes can repeat without end.
    LogLimiter peerWarnings;
};

}  // namespace Drux

struct VantrelMessageAgent {
    boost::shared_ptr<Drux::AgentCore> core;
    boost::shared_ptr<Drux::Thread> socketThread;
    boost::shared_ptr<Drux::Thread> heartbeatThread;
    // Set by agentRequestStop: the deletion still waits for the threads.
    bool stopRequested = false;
};

// One send of the whole buffer (continued if the system takes only part of
// it). 1 on success; 0 after logging the failure.
int32_t VantrelMessageAgent_WriteToSocketInternal(Drux::AgentCore& agent, const void* buffer, int32_t length);
// Fills the buffer with exactly `length` bytes (nothing for 0 or less). 1 on
// success; 0 after logging why the connection ended.
int32_t VantrelMessageAgent_ReadFromSocketInternal(Drux::AgentCore& agent, void* buffer, int32_t length);

namespace Drux {
// Writes one whole message under the agent's lock, as the exported send does.
int32_t agentSendMessage(AgentCore& agent, int32_t type, const char* payload);
// Tells a running agent's threads to end without waiting for them, so that an
// owner of many agents lets all of them wind down at once; the agent's
// deletion then waits for its threads as usual.
void agentRequestStop(VantrelMessageAgent& agent);
// Whether sends and receipts of this type get their INFO line: heartbeats and
// replies only when the agent logs every type.
bool isLoggedType(const AgentCore& agent, int32_t type);
}  // namespace Drux

// Receives, answers and delivers one message: 1 to go on reading, 0 after a
// read failure (the connection is over).
int32_t VantrelMessageAgent_ReceiveMessage(Drux::AgentCore& agent);
// Thread bodies; the argument is a heap-allocated boost::shared_ptr<AgentCore>
// that the body takes over and releases when it returns.
uint32_t VantrelMessageAgent_SocketThread(void* agent);
uint32_t VantrelMessageAgent_HeartbeatThread(void* agent);
