// The listening server: one loopback port, one accept thread, and one message
// agent for every accepted connection.
#include "messaging/server.h"

#include "core/export_guard.h"
#include "core/log.h"
#include "messaging/agent_internal.h"
#include "messaging/server_internal.h"

namespace {

// After a failed accept (for example when the process is out of descriptors
// the listening socket stays readable) the loop pauses this long before the
// next try instead of spinning.
constexpr uint32_t kAcceptRetryPauseMs = 100;

std::atomic<Drux::DefaultServerProvider> g_defaultServerProvider{nullptr};

bool missingServer(const void* server, const char* exportName) {
    if (server != nullptr) return false;
    Drux::LogErrorF(320, "%s was called without a VantrelServer.\n", exportName);
    return true;
}

// Counts a broadcast in for as long as it walks the client list. Deletion
// clears isRunning before it waits for the count, so a broadcast counted in
// after that sees the server stopped and walks nothing.
class BroadcastScope {
public:
    explicit BroadcastScope(VantrelServer& server) : server_(server) {
        std::lock_guard<Drux::StateLock> lock(server_.broadcastLock);
        ++server_.activeBroadcasts;
    }
    ~BroadcastScope() {
        std::lock_guard<Drux::StateLock> lock(server_.broadcastLock);
        if (--server_.activeBroadcasts == 0) server_.broadcastsEnded.notify_all();
    }
    BroadcastScope(const BroadcastScope&) = delete;
    BroadcastScope& operator=(const BroadcastScope&) = delete;

private:
    VantrelServer& server_;
};

void closeClientSocket(Drux::SocketHandle socket) {
    if (!Drux::socketClose(socket)) {
        LogLastError("VantrelServer_Delete");
        Drux::LogWarning("Unable to close MessageAgent socket.\n");
    }
}

}  // namespace

namespace Drux {
void setDefaultBroadcastServerProvider(DefaultServerProvider provider) { g_defaultServerProvider.store(provider); }
}  // namespace Drux

uint32_t VantrelServer_AcceptThread(void* argument) {
    VantrelServer& server = *static_cast<VantrelServer*>(argument);
    while (server.isRunning.load() == 1) {
        const Drux::WaitResult ready = Drux::waitReadable(server.listenSocket, server.acceptInterrupter, -1);
        if (ready == Drux::WaitResult::Interrupted || ready == Drux::WaitResult::TimedOut) continue;
        Drux::SocketHandle accepted = Drux::kInvalidSocket;
        if (ready == Drux::WaitResult::Readable && Drux::socketAccept(server.listenSocket, &accepted)) {
            VantrelServer_AddClient(&server, accepted);
            continue;
        }
        // A failed accept (out of descriptors, say) is told, limited like a
        // peer's warnings since it may repeat every pause; failed waits pass.
        if (ready == Drux::WaitResult::Readable)
            server.acceptWarnings.warning("Failed to accept a connection; the server goes on listening.\n");
        server.acceptPause.waitFor(kAcceptRetryPauseMs);
    }
    return 1;
}

void VantrelServer_AddClient(VantrelServer* server, Drux::SocketHandle socket) {
    auto* node = new VantrelServerClientNode;
    node->socket = socket;
    VantrelMessageAgent_Create(&node->agent);
    VantrelMessageAgent_SetMessageArrivedCallback(node->agent, server->callbackUserData.load(),
                                                  server->messageArrivedCallback.load());
    // Listed before its agent starts, so that a broadcast made while the
    // connection's first message is handled already reaches it; until the
    // start, and for good if the start fails, broadcasts pass over an agent
    // that is not running.
    node->next = server->clients.load();
    server->clients.store(node);
    VantrelMessageAgent_Start(node->agent, socket);
}

extern "C" {

VANTREL_API int32_t VantrelServer_Create(VantrelServerHandle* server) {
    return Drux::guardExport("VantrelServer_Create", 0, [&]() -> int32_t {
        if (server == nullptr) {
            Drux::LogError("VantrelServer_Create was called without a place for the new VantrelServer.\n");
            return 0;
        }
        auto* created = new VantrelServer;
        // A socket that could not be made shows up at the start as a failed bind.
        created->listenSocket = Drux::socketCreate();
        *server = created;
        return 1;
    });
}

VANTREL_API int32_t VantrelServer_SetMessageArrivedCallback(VantrelServerHandle server, void* userData,
                                                            VantrelMessageArrivedCallback callback) {
    return Drux::guardExport("VantrelServer_SetMessageArrivedCallback", 0, [&]() -> int32_t {
        if (missingServer(server, "VantrelServer_SetMessageArrivedCallback")) return 0;
        server->callbackUserData.store(userData);
        server->messageArrivedCallback.store(callback);
        return 1;
    });
}

VANTREL_API int32_t VantrelServer_Start(VantrelServerHandle server, int32_t port) {
    return Drux::guardExport("VantrelServer_Start", 0, [&]() -> int32_t {
        if (missingServer(server, "VantrelServer_Start")) return 0;
        if (server->isRunning.load() == 1) {
            Drux::LogError("Server is already running.\n");
            return 0;
        }
        server->port.store(port);
        if (!Drux::socketBind(server->listenSocket, static_cast<uint16_t>(port & 0xFFFF))) {
            LogLastError("VantrelServer_Start");
            Drux::LogError("Failed to bind server socket.\n");
            return 0;
        }
        if (!Drux::socketListen(server->listenSocket)) {
            LogLastError("VantrelServer_Start");
            Drux::LogError("Failed to listen on server socket.\n");
            return 0;
        }
        server->isRunning.store(1);
        server->acceptThread = Drux::createThread(VantrelServer_AcceptThread, server);
        if (!server->acceptThread || !server->acceptThread->handle) {
            LogLastError("VantrelServer_Start");
            Drux::LogError("Failed to start server thread.\n");
            server->acceptThread.reset();
            server->isRunning.store(0);
            return 0;
        }
        return 1;
    });
}

VANTREL_API int32_t VantrelServer_SendMessageToAllClients(VantrelServerHandle server, int32_t messageType,
                                                          const char* payload) {
    return Drux::guardExport("VantrelServer_SendMessageToAllClients", 0, [&]() -> int32_t {
        VantrelServer* target = server;
        if (target == nullptr) {
            // The launcher controller's AIR server, when there is one.
            const Drux::DefaultServerProvider provider = g_defaultServerProvider.load();
            if (provider == nullptr) return 0;
            target = provider();
            if (target == nullptr) return 0;
        }
        BroadcastScope scope(*target);
        if (target->isRunning.load() != 1) {
            Drux::LogError("Server cannot send messages until it is started.\n");
            return 0;
        }
        VantrelServerClientNode* node = target->clients.load();
        if (node == nullptr) {
            Drux::LogInfo("No clients are currently connected.\n");
            return 1;
        }
        for (; node != nullptr; node = node->next) {
            if (node->agent != nullptr && node->agent->core->isRunning.load() == 1)
                VantrelMessageAgent_SendMessage(node->agent, messageType, payload);
        }
        return 1;
    });
}

VANTREL_API int32_t VantrelServer_Delete(VantrelServerHandle* server) {
    return Drux::guardExport("VantrelServer_Delete", 0, [&]() -> int32_t {
        if (server == nullptr || *server == nullptr) {
            Drux::LogError("VantrelServer is not yet initialized.\n");
            return 0;
        }
        VantrelServer* deleted = *server;
        bool acceptThreadEnded = true;
        if (deleted->isRunning.load() == 1) {
            deleted->isRunning.store(0);
            deleted->acceptInterrupter.signal();
            deleted->acceptPause.notify();
            if (Drux::waitForThread(deleted->acceptThread, Drux::kWaitInfinite) != Drux::kWaitObject0) {
                Drux::LogWarning("Thread failed to shut down correctly.\n");
                if (Drux::threadTerminate(deleted->acceptThread) == 0) {
                    Drux::LogWarning("threadTerminate failed.");
                    acceptThreadEnded = false;
                }
            }
        }

        if (!Drux::socketClose(deleted->listenSocket)) {
            LogLastError("VantrelServer_Delete");
            Drux::LogWarning("Unable to close server socket.\n");
        }

        // Shut every connection down first: each reading thread wakes from its
        // receive, and a broadcast blocked in a send to a peer that does not
        // read fails instead of holding the deletion up.
        VantrelServerClientNode* head = deleted->clients.load();
        for (VantrelServerClientNode* node = head; node != nullptr; node = node->next)
            Drux::socketShutdown(node->socket);
        // Every agent winds down at once; each deletion below then finds its
        // threads ended or about to end.
        for (VantrelServerClientNode* node = head; node != nullptr; node = node->next)
            if (node->agent != nullptr) Drux::agentRequestStop(*node->agent);
        {
            std::unique_lock<Drux::StateLock> lock(deleted->broadcastLock);
            deleted->broadcastsEnded.wait(lock, [&] { return deleted->activeBroadcasts == 0; });
        }

        // Each descriptor is closed only after its agent's threads are gone, so
        // its number cannot be reused under a reader.
        deleted->clients.store(nullptr);
        while (head != nullptr) {
            VantrelServerClientNode* next = head->next;
            if (head->agent != nullptr) VantrelMessageAgent_Delete(&head->agent);
            closeClientSocket(head->socket);
            delete head;
            head = next;
        }

        *server = nullptr;
        if (!acceptThreadEnded) {
            // The accept thread still uses the server; leaving the record in
            // place is the only safe choice.
            return 1;
        }
        deleted->acceptThread.reset();
        delete deleted;
        return 1;
    });
}

}  // extern "C"
