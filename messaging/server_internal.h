// The listening server's internals, shared by the server's files and the tests.
#pragma once

#include <boost/shared_ptr.hpp>
#include <atomic>
#include <cstdint>

#include "VantrelMessageAgent.h"
#include "VantrelServer.h"
#include "core/log_limiter.h"
#include "core/platform/clock.h"
#include "core/platform/socket.h"
#include "core/platform/state_lock.h"
#include "core/platform/thread.h"

// One accepted connection. A node is complete before it is linked in and is
// never changed afterwards; only the server's deletion unlinks and frees it.
struct VantrelServerClientNode {
    VantrelMessageAgentHandle agent = nullptr;
    Drux::SocketHandle socket = Drux::kInvalidSocket;  // owned by the server
    VantrelServerClientNode* next = nullptr;
};

struct VantrelServer {
    Drux::SocketHandle listenSocket = Drux::kInvalidSocket;
    boost::shared_ptr<Drux::Thread> acceptThread;
    std::atomic<int32_t> isRunning{0};
    std::atomic<int32_t> port{0};
    std::atomic<void*> callbackUserData{nullptr};
    std::atomic<VantrelServerClientNode*> clients{nullptr};  // newest first
    std::atomic<VantrelMessageArrivedCallback> messageArrivedCallback{nullptr};

    // Wakes the accept thread out of its wait on the listening socket.
    Drux::Interrupter acceptInterrupter;
    // Wakes the accept thread out of its pause after a failed accept.
    Drux::Waker acceptPause;
    Drux::LogLimiter acceptWarnings;
    // Broadcasts walking the client list; deletion frees no node before they
    // end. Counted under a lock so that the last one's notification is its
    // final touch of the server.
    Drux::StateLock broadcastLock;
    Drux::StateCondition broadcastsEnded;
    int32_t activeBroadcasts = 0;
};

uint32_t VantrelServer_AcceptThread(void* server);
void VantrelServer_AddClient(VantrelServer* server, Drux::SocketHandle socket);
