// The listening server's exports and its accept thread; the client list and
// the reaper are in server_clients.cpp. Threads and ownership: docs/design.md.
#include "messaging/server.h"

#include <memory>
#include <mutex>

#include "core/export_guard.h"
#include "core/log.h"
#include "messaging/agent_internal.h"
#include "messaging/peer_admission.h"
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

// Starts one of the server's threads with its own reference to the server.
// Null (with the reference given back) if the system refused.
boost::shared_ptr<Drux::Thread> startServerThread(uint32_t (*body)(void*), VantrelServer& server) {
    auto* reference = new boost::shared_ptr<VantrelServer>(server.self);
    boost::shared_ptr<Drux::Thread> thread = Drux::createThread(body, reference);
    if (!thread || !thread->handle) {
        delete reference;
        return boost::shared_ptr<Drux::Thread>();
    }
    return thread;
}

// Ends the running server's threads: the accept loop first, so that nothing
// is listed any more, then the reaper.
void stopServerThreads(VantrelServer& server) {
    server.isRunning.store(0);
    // The interrupter stays signalled: only an accept thread that is there
    // and about to end may see it.
    if (server.acceptThread) server.acceptInterrupter.signal();
    server.acceptPause.notify();
    server.reaperWaker.notify();
    for (const boost::shared_ptr<Drux::Thread>* thread : {&server.acceptThread, &server.reaperThread}) {
        if (!*thread || Drux::waitForThread(*thread, Drux::kWaitInfinite) == Drux::kWaitObject0) continue;
        Drux::LogWarning("Thread failed to shut down correctly.\n");
        // A thread that cannot be ended keeps its own reference to the server.
        if (Drux::threadTerminate(*thread) == 0) Drux::LogWarning("threadTerminate failed.");
    }
}

}  // namespace

namespace Drux {
void setDefaultBroadcastServerProvider(DefaultServerProvider provider) { g_defaultServerProvider.store(provider); }
}  // namespace Drux

uint32_t VantrelServer_AcceptThread(void* argument) {
    const std::unique_ptr<boost::shared_ptr<VantrelServer>> holder(
        static_cast<boost::shared_ptr<VantrelServer>*>(argument));
    VantrelServer& server = **holder;
    while (server.isRunning.load() == 1) {
        unsigned readiness = 0;
        const Drux::SocketWait ready =
            Drux::waitSocket(server.listenSocket, Drux::kSocketReadable, server.acceptInterrupter, -1, &readiness);
        if (ready == Drux::SocketWait::Interrupted || ready == Drux::SocketWait::TimedOut) continue;
        Drux::SocketHandle accepted = Drux::kInvalidSocket;
        if (ready == Drux::SocketWait::Ready && Drux::socketAccept(server.listenSocket, &accepted)) {
            if (Drux::admitConnection(accepted, server.port.load() & 0xFFFF, server.acceptWarnings))
                VantrelServer_AddClient(*holder, accepted);
            continue;
        }
        // A failed accept (out of descriptors, say) is told, limited like a
        // peer's warnings since it may repeat every pause; failed waits pass.
        if (ready == Drux::SocketWait::Ready)
            server.acceptWarnings.warning("Failed to accept a connection; the server goes on listening.\n");
        server.acceptPause.waitFor(kAcceptRetryPauseMs);
    }
    return 1;
}

extern "C" {

VANTREL_API int32_t VantrelServer_Create(VantrelServerHandle* server) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
        if (server == nullptr) {
            Drux::LogError("VantrelServer_Create was called without a place for the new VantrelServer.\n");
            return 0;
        }
        auto* created = new VantrelServer;
        created->self.reset(created);
        // A socket that could not be made shows up at the start as a failed bind.
        created->listenSocket = Drux::socketCreate();
        *server = created;
        return 1;
    });
}

VANTREL_API int32_t VantrelServer_SetMessageArrivedCallback(VantrelServerHandle server, void* userData,
                                                            VantrelMessageArrivedCallback callback) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
        if (missingServer(server, "VantrelServer_SetMessageArrivedCallback")) return 0;
        server->callbackUserData.store(userData);
        server->messageArrivedCallback.store(callback);
        return 1;
    });
}

VANTREL_API int32_t VantrelServer_Start(VantrelServerHandle server, int32_t port) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
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
        // The reaper first: an accept thread that could not start is simply
        // not there, while the reaper can be woken and waited for.
        server->reaperThread = startServerThread(Drux::serverReaperThread, *server);
        if (server->reaperThread) server->acceptThread = startServerThread(VantrelServer_AcceptThread, *server);
        if (!server->acceptThread) {
            LogLastError("VantrelServer_Start");
            Drux::LogError("Failed to start server thread.\n");
            stopServerThreads(*server);
            server->reaperThread.reset();
            return 0;
        }
        return 1;
    });
}

VANTREL_API int32_t VantrelServer_SendMessageToAllClients(VantrelServerHandle server, int32_t messageType,
                                                          const char* payload) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
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
        // A copy of the list: the reaper may forget a client meanwhile, and
        // the copy keeps its node (and agent) until this walk is done.
        VantrelServerClientList listed;
        {
            // Departed clients count as gone already.
            std::lock_guard<Drux::StateLock> lock(target->clientsLock);
            for (const auto& node : target->clients)
                if (!node->connection->ended.load()) listed.push_back(node);
        }
        if (listed.empty()) {
            Drux::LogInfo("No clients are currently connected.\n");
            return 1;
        }
        // Newest first.
        for (auto node = listed.rbegin(); node != listed.rend(); ++node) {
            if ((*node)->agent->core->isRunning.load() == 1)
                VantrelMessageAgent_SendMessage((*node)->agent, messageType, payload);
        }
        return 1;
    });
}

VANTREL_API int32_t VantrelServer_Delete(VantrelServerHandle* server) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
        if (server == nullptr || *server == nullptr) {
            Drux::LogError("VantrelServer is not yet initialized.\n");
            return 0;
        }
        VantrelServer* deleted = *server;
        // Held until the end of the deletion; a thread still running keeps
        // its own reference, and the server is freed when the last one goes.
        boost::shared_ptr<VantrelServer> keep;
        keep.swap(deleted->self);
        if (deleted->isRunning.load() == 1) stopServerThreads(*deleted);

        if (!Drux::socketClose(deleted->listenSocket)) {
            LogLastError("VantrelServer_Delete");
            Drux::LogWarning("Unable to close server socket.\n");
        }

        VantrelServerClientList listed;
        {
            std::lock_guard<Drux::StateLock> lock(deleted->clientsLock);
            listed.swap(deleted->clients);
        }
        // Every agent winds down at once: each reading thread leaves its wait,
        // and each writer sends what was accepted for sending, all within one
        // drain budget. Each node's destruction below then finds its threads
        // ended or about to end, and shuts its connection down.
        for (const auto& node : listed) Drux::agentRequestStop(*node->agent);
        {
            std::unique_lock<Drux::StateLock> lock(deleted->broadcastLock);
            deleted->broadcastsEnded.wait(lock, [&] { return deleted->activeBroadcasts == 0; });
        }
        // Each descriptor is closed only after its agent's threads are gone,
        // so its number cannot be reused under a reader.
        listed.clear();
        *server = nullptr;
        return 1;
    });
}

}  // extern "C"
