// The listening server's internals, shared by the server's files and the
// tests. A server lives as long as anything of ours can still reach it (who
// holds which reference: docs/design.md).
#pragma once

#include <boost/shared_ptr.hpp>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "VantrelMessageAgent.h"
#include "VantrelServer.h"
#include "core/log_limiter.h"
#include "core/platform/clock.h"
#include "core/platform/interrupter.h"
#include "core/platform/socket.h"
#include "core/platform/state_lock.h"
#include "core/platform/thread.h"

namespace Drux {

// The most connections one server holds at once. The launcher's servers expect
// one AIR client, one or two game connections and the odd tool; 64 leaves room
// for reconnects still being cleared away, while three servers at the limit
// stay below the process's default descriptor limit of 1024 (on POSIX each
// connection costs four descriptors: the accepted socket, the agent's
// duplicate and its two wake-up descriptors, besides the agent's two threads).
constexpr uint32_t kDefaultConnectionLimit = 64;

// One accepted socket, owned by the server. Shared by the connection's list
// node and its agent's end-of-connection hook, so the descriptor is closed only
// when the list and every thread of the agent are done with it: its number can
// never be reused under a reader that outlived a deletion.
struct ServerConnection {
    ServerConnection(SocketHandle acceptedSocket, const boost::shared_ptr<VantrelServer>& owner)
        : socket(acceptedSocket), server(owner) {}
    ~ServerConnection();
    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    const SocketHandle socket;
    const boost::shared_ptr<VantrelServer> server;
    // Set when the agent's reading thread has ended with the connection (or
    // the agent never started): the reaper then forgets the client.
    std::atomic<bool> ended{false};
};

}  // namespace Drux

// One listed client. Broadcasts work on copies of the list, so a node is
// destroyed by whoever lets go of it last; its destruction deletes the agent
// (waiting for its threads) and gives up the node's share of the connection.
struct VantrelServerClientNode {
    VantrelServerClientNode() = default;
    ~VantrelServerClientNode();
    VantrelServerClientNode(const VantrelServerClientNode&) = delete;
    VantrelServerClientNode& operator=(const VantrelServerClientNode&) = delete;

    VantrelMessageAgentHandle agent = nullptr;
    boost::shared_ptr<Drux::ServerConnection> connection;
};

using VantrelServerClientList = std::vector<boost::shared_ptr<VantrelServerClientNode>>;  // oldest first

struct VantrelServer {
    // The creation's reference; VantrelServer_Delete drops it.
    boost::shared_ptr<VantrelServer> self;
    Drux::SocketHandle listenSocket = Drux::kInvalidSocket;
    boost::shared_ptr<Drux::Thread> acceptThread;
    boost::shared_ptr<Drux::Thread> reaperThread;
    std::atomic<int32_t> isRunning{0};
    std::atomic<int32_t> port{0};
    std::atomic<void*> callbackUserData{nullptr};
    std::atomic<VantrelMessageArrivedCallback> messageArrivedCallback{nullptr};
    // Connections beyond this many are closed as they arrive.
    std::atomic<uint32_t> connectionLimit{Drux::kDefaultConnectionLimit};

    // The listed clients. Held only to change the list or to copy it, never
    // across a send or a deletion.
    Drux::StateLock clientsLock;
    VantrelServerClientList clients;

    // Wakes the accept thread out of its wait on the listening socket.
    Drux::Interrupter acceptInterrupter;
    // Wakes the accept thread out of its pause after a failed accept.
    Drux::Waker acceptPause;
    // What connection attempts and connections' ends can make the server log
    // (failed accepts, refusals, the connection limit, connections that end):
    // any local process can repeat them without end.
    Drux::LogLimiter acceptWarnings{"on this port"};
    // Wakes the reaper when a connection has ended or the server stops.
    Drux::Waker reaperWaker;
    // Broadcasts under way; deletion destroys no node before they end (a node
    // destroyed on a broadcasting reading thread could be waiting for that very
    // thread). Counted under a lock so that the last one's notification is its
    // final touch of the server.
    Drux::StateLock broadcastLock;
    Drux::StateCondition broadcastsEnded;
    int32_t activeBroadcasts = 0;
};

uint32_t VantrelServer_AcceptThread(void* server);
namespace Drux {
uint32_t serverReaperThread(void* server);
}  // namespace Drux
void VantrelServer_AddClient(const boost::shared_ptr<VantrelServer>& server, Drux::SocketHandle socket);

namespace Drux {
// How many clients the server lists now (departed ones until the reaper has
// forgotten them).
size_t serverClientCount(VantrelServer& server);
}  // namespace Drux
