// The server's client list: listing an accepted connection (within the
// server's connection limit) and forgetting it once its connection has ended,
// so that a long-running server holds resources for live connections only.
#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>
#include <algorithm>
#include <memory>

#include "core/figures.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "messaging/agent_internal.h"
#include "messaging/server_internal.h"

namespace Drux {

ServerConnection::~ServerConnection() {
    // Closed so that the port can be listened on again at once (socket.h).
    if (!socketCloseAccepted(socket, figures().peerEndWaitMs.load())) {
        LogLastError("VantrelServer_Delete");
        LogWarning("Unable to close MessageAgent socket.\n");
    }
}

size_t serverClientCount(VantrelServer& server) {
    std::lock_guard<Drux::StateLock> lock(server.clientsLock);
    return server.clients.size();
}

}  // namespace Drux

VantrelServerClientNode::~VantrelServerClientNode() {
    if (agent == nullptr) return;
    // The deletion lets what was queued for the peer leave, then shuts the
    // connection down.
    const boost::weak_ptr<Drux::AgentCore> state = agent->core;
    VantrelMessageAgent_Delete(&agent);
    // Only a running thread still holds the agent's state; through it, it
    // also holds the connection and the server.
    if (!state.expired())
        Drux::LogWarning("A connection's thread is still running; its socket and its server are kept until it ends.\n");
}

void VantrelServer_AddClient(const boost::shared_ptr<VantrelServer>& server, Drux::SocketHandle socket) {
    const uint32_t limit = server->connectionLimit.load();
    if (Drux::serverClientCount(*server) >= limit) {
        char line[320];
        Drux::boundedPrintf(
            line, sizeof line, "The server on port %u already holds %u connections; a new connection was closed.\n",
            static_cast<unsigned>(Drux::socketLocalPort(server->listenSocket)), static_cast<unsigned>(limit));
        server->acceptWarnings.warning(line);
        Drux::socketClose(socket);
        return;
    }
    auto node = boost::make_shared<VantrelServerClientNode>();
    node->connection = boost::make_shared<Drux::ServerConnection>(socket, server);
    VantrelMessageAgent_Create(&node->agent);
    VantrelMessageAgent_SetMessageArrivedCallback(node->agent, server->callbackUserData.load(),
                                                  server->messageArrivedCallback.load());
    // The hook's share of the connection keeps the socket and the server
    // alive for as long as the agent's threads may run.
    const boost::shared_ptr<Drux::ServerConnection> connection = node->connection;
    // How a connection ended is told through the server's limiter: a process
    // that connects and closes in a loop repeats those lines without end.
    node->agent->core->endWarnings = &server->acceptWarnings;
    node->agent->core->connectionEnded = [connection] {
        connection->ended.store(true);
        connection->server->reaperWaker.notify();
    };
    // Listed before its agent starts, so that a broadcast made while the
    // connection's first message is handled already reaches it; until the
    // start broadcasts pass over an agent that is not running.
    {
        std::lock_guard<Drux::StateLock> lock(server->clientsLock);
        server->clients.push_back(node);
    }
    if (VantrelMessageAgent_Start(node->agent, socket) != 1) {
        // The agent has logged why; the client is forgotten like a departed one.
        connection->ended.store(true);
        server->reaperWaker.notify();
    }
}

uint32_t Drux::serverReaperThread(void* argument) {
    const std::unique_ptr<boost::shared_ptr<VantrelServer>> holder(
        static_cast<boost::shared_ptr<VantrelServer>*>(argument));
    VantrelServer& server = **holder;
    while (server.isRunning.load() == 1) {
        server.reaperWaker.wait();
        VantrelServerClientList departed;
        {
            std::lock_guard<Drux::StateLock> lock(server.clientsLock);
            const auto firstDeparted =
                std::stable_partition(server.clients.begin(), server.clients.end(),
                                      [](const auto& node) { return !node->connection->ended.load(); });
            departed.assign(firstDeparted, server.clients.end());
            server.clients.erase(firstDeparted, server.clients.end());
        }
        // Destroyed outside the lock: each waits for its agent's threads. A
        // broadcast still holding one of them destroys it when it lets go.
        departed.clear();
    }
    return 1;
}
