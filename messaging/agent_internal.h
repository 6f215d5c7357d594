// The message agent's internals, shared by the agent's own files, the server,
// the client and the tests. The threads, the locks and who owns what:
// docs/design.md.
#pragma once

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "VantrelMessageAgent.h"
#include "core/log_limiter.h"
#include "core/platform/clock.h"
#include "core/platform/interrupter.h"
#include "core/platform/mutex.h"
#include "core/platform/socket.h"
#include "core/platform/thread.h"
#include "messaging/outgoing_queue.h"

namespace Drux {

// The most bytes one connection may have waiting to be sent: two messages of
// the largest size. A peer that is merely slow always has room for a whole
// message behind the one it is reading; one that lets this fill has stopped
// reading, and its connection is closed rather than growing without end.
constexpr size_t kOutgoingQueueLimit = 2 * (16u * 1024 * 1024 + 16);

// A connection's received bytes are parsed where they arrived, in a buffer
// that starts this large and grows to hold a whole message up to the largest
// size below; a longer message reads the rest of its payload into a buffer of
// its own.
constexpr size_t kFirstReceiveBufferBytes = 16 * 1024;
constexpr size_t kLargestBufferedMessage = 128 * 1024;

// The reading thread's own bytes (no other thread touches them): what the
// receives brought that has not been handed over yet, at [begin, end).
struct ReceivedBytes {
    // `capacity` bytes and one more, for the terminator of a payload that
    // ends at the end; obtained at the first message, kept for the next ones.
    std::unique_ptr<uint8_t[]> bytes;
    size_t capacity = 0;
    size_t begin = 0;
    size_t end = 0;
    // Whether the next message's first bytes are awaited in the receive
    // itself for a moment (set after bytes arrived, on a handle whose
    // receives can wait).
    bool lingering = false;
    // Whether lastArrivalTick was taken since bytes last arrived.
    bool arrivalStamped = false;
};

struct AgentCore {
    AgentCore() = default;
    AgentCore(const AgentCore&) = delete;
    AgentCore& operator=(const AgentCore&) = delete;
    // Closes the agent's own duplicate of the socket: only once no thread of
    // the agent can use it any more.
    ~AgentCore();

    // What every message touches comes first, so that it shares few cache
    // lines. The agent's own duplicate of the host's socket, and the host's
    // number, which names the connection in the log.
    std::atomic<SocketHandle> socket{kInvalidSocket};
    std::atomic<SocketHandle> hostSocket{kInvalidSocket};
    std::atomic<int32_t> isRunning{0};
    // Whether a receive on `socket` can wait by itself (set before the
    // threads start).
    bool receiveCanWait = false;
    std::atomic<void*> callbackUserData{nullptr};
    std::atomic<VantrelMessageArrivedCallback> messageArrivedCallback{nullptr};
    std::atomic<int32_t> logAllMessageTypes{0};
    ReceivedBytes received;
    boost::shared_ptr<Mutex> mutex;  // guards `outgoing` and the sends into the socket
    OutgoingQueue outgoing;
    // The clock reading when the agent was stopped: what is still queued
    // then may leave until the drain budget from that moment has passed.
    std::atomic<uint32_t> stopTick{0};
    std::atomic<int32_t> heartbeatActive{1};
    std::atomic<uint32_t> lastHeartbeatSeconds{0};
    // Wakes the heartbeat thread when its flag changes, bytes wait to be
    // sent or the agent stops.
    Waker heartbeatWaker;
    // The warnings that the peer's bytes can repeat without end.
    LogLimiter peerWarnings;
    // Where the lines that tell how the connection ended go, when its owner
    // limits them (a server: its connections come and go at a peer's will);
    // null to log them directly. Set before the start; the owner outlives
    // the agent's threads (the connection-ended hook holds it).
    LogLimiter* endWarnings = nullptr;
    // Wakes the reading thread out of its wait when the agent stops (never
    // reset), and the heartbeat thread out of a wait for writability when
    // bytes were queued or the agent stops (reset by that thread).
    Interrupter readerWake;
    Interrupter writerWake;
    // The reading thread's clock reading at the last bytes that arrived (read
    // when a message under way first had to wait after them), for the silence
    // limit.
    std::atomic<uint32_t> lastArrivalTick{0};
    // What the payload buffer of the message being read holds now (0 between
    // messages): memory follows the bytes that arrived, not the announcement.
    std::atomic<size_t> payloadCapacity{0};
    // Called once by the reading thread when the connection ends under it (a
    // failed read, the peer's close, a limit) while the agent still runs; not
    // when the agent is stopped. Set before the start; runs on the reading
    // thread, so it must not delete the agent.
    boost::function<void()> connectionEnded;
};

}  // namespace Drux

struct VantrelMessageAgent {
    boost::shared_ptr<Drux::AgentCore> core;
    boost::shared_ptr<Drux::Thread> socketThread;
    boost::shared_ptr<Drux::Thread> heartbeatThread;
    // Set by agentRequestStop: the deletion still waits for the threads.
    bool stopRequested = false;
};

// One non-blocking send of as much of the pieces as the socket takes now;
// *sent tells how much (0 when its buffer is full). 1 on success; 0 after
// logging the failure.
int32_t VantrelMessageAgent_WriteToSocketInternal(Drux::AgentCore& agent, const Drux::ByteSpan* parts, size_t count,
                                                  size_t* sent);

namespace Drux {
// Hands one whole message to the connection, as the exported send does: sent
// at once as far as the socket takes it, the rest queued for the heartbeat
// thread. Never blocks.
int32_t agentSendMessage(AgentCore& agent, int32_t type, const char* payload);
// Sends what is queued as far as the socket takes it now; true while bytes
// remain. Called by the heartbeat thread only.
bool agentFlushOutgoing(AgentCore& agent);
// At least one byte (at most `length`) into the buffer. When `messageStarted`
// is false the wait for the first byte has no limit; after that a silence
// longer than the limit ends the connection. 1 on success; 0 after logging why
// the connection ended, or when the agent stops.
int32_t agentReceiveSome(AgentCore& agent, void* buffer, size_t length, bool messageStarted, size_t* received);
// Ends the connection from our side (the peer sees it closed) after a limit
// was passed.
void agentCloseConnection(AgentCore& agent);
// Wakes the heartbeat thread to send what was queued or to look at its flag.
void agentWakeWriter(AgentCore& agent);
// Tells a running agent's threads to end without waiting for them, so that an
// owner of many agents lets all of them wind down (and drain their queues) at
// once; the agent's deletion then waits for its threads as usual.
void agentRequestStop(VantrelMessageAgent& agent);
// How long after the stop the writer goes on sending what was queued before
// it: a little less than the deletion waits for the thread, so that a thread
// which gives up is seen to end.
uint32_t agentDrainBudgetMs();
// Called by the heartbeat thread once the agent has stopped: sends what is
// still queued as the peer takes it, until the queue is empty, the connection
// fails or the drain budget has passed (then the rest is dropped, logged).
void agentDrainOutgoing(AgentCore& agent);
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
