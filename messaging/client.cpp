// The game side's connection to the launcher: one socket and its agent.
#include "messaging/client.h"

#include "core/log.h"

int32_t VantrelClient_Create(VantrelClient** client) {
    if (client == nullptr) {
        Drux::LogError("VantrelClient_Create was called without a place for the new client.\n");
        return 0;
    }
    auto* created = new VantrelClient;
    VantrelMessageAgent_Create(&created->agent);
    const int result = Drux::socketStartup();
    if (result != 0) Drux::LogErrorF(512, "Error initializing socket. result: %d\n", result);
    // Not tested here: a socket that could not be made fails at the connect.
    created->socket = Drux::socketCreate();
    *client = created;
    return 1;
}

int32_t VantrelClient_Start(VantrelClient* client, int32_t port) {
    if (client == nullptr) {
        Drux::LogError("VantrelClient_Start was called without a client.\n");
        return 0;
    }
    if (client->isStarted.load() != 0) {
        Drux::LogError("This client has already been started.\n");
        return 0;
    }
    // One attempt. After a refusal the same socket stays in place; the system
    // lets a later start connect it again.
    if (!Drux::socketConnect(client->socket, static_cast<uint16_t>(port & 0xFFFF))) {
        LogLastError("VantrelClient_Start");
        Drux::LogError("Unable to connect to server.\n");
        return 0;
    }
    if (!VantrelMessageAgent_Start(client->agent, client->socket)) return 0;
    client->isStarted.store(1);
    return 1;
}

int32_t VantrelClient_Delete(VantrelClient** client) {
    if (client == nullptr || *client == nullptr) {
        Drux::LogError("VantrelClient_Delete was called without a client.\n");
        return 0;
    }
    VantrelClient* deleted = *client;
    // The agent's deletion lets what was queued for the launcher leave (a
    // game's last words, STOPPED among them), then shuts the connection down;
    // the descriptor itself is closed only after the agent's threads are gone,
    // so its number cannot be reused under a reader.
    if (deleted->agent != nullptr) VantrelMessageAgent_Delete(&deleted->agent);
    if (!Drux::socketClose(deleted->socket)) {
        LogLastError("VantrelClient_Delete");
        Drux::LogWarning("Unable to close the client socket.\n");
    }
    Drux::socketCleanup();
    delete deleted;
    *client = nullptr;
    return 1;
}
