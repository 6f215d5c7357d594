// The game side's connection to the launcher's game server: one socket, owned
// here, served by one message agent. Internal: no exports of its own.
#pragma once

#include <atomic>
#include <cstdint>

#include "VantrelMessageAgent.h"
#include "core/platform/socket.h"

struct VantrelClient {
    VantrelMessageAgentHandle agent = nullptr;
    Drux::SocketHandle socket = Drux::kInvalidSocket;
    std::atomic<int32_t> isStarted{0};
};

// Creates a client (agent with heartbeats active, socket layer started, a new
// TCP socket) and stores it in *client. Always 1.
int32_t VantrelClient_Create(VantrelClient** client);
// Connects to 127.0.0.1:port and starts the agent. 1 when connected and running.
int32_t VantrelClient_Start(VantrelClient* client, int32_t port);
// Closes the socket, stops the socket layer, deletes the agent, frees the
// client and stores null in *client. Always 1.
int32_t VantrelClient_Delete(VantrelClient** client);
