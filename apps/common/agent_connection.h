// A connection of our own to one of the launcher's ports, served by the
// library's message agent (VantrelMessageAgent_* exports): we open and close
// the socket, the agent reads, answers every message with a reply and sends
// heartbeats.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "VantrelMessageAgent.h"

namespace DruxApps {

class AgentConnection {
public:
    // Runs on the agent's reading thread for every message that arrives,
    // replies and heartbeats included; payload is null or valid for the call.
    using Handler = std::function<void(int32_t type, const char* payload)>;

    explicit AgentConnection(Handler handler);
    ~AgentConnection();
    AgentConnection(const AgentConnection&) = delete;
    AgentConnection& operator=(const AgentConnection&) = delete;

    // Connects to 127.0.0.1:port and starts the agent. With heartbeats off the
    // agent sends none (the launcher counts the AIR client's heartbeats as its
    // signs of life; a helper connection must not pose as one). On failure
    // returns false with a readable reason.
    bool connect(int port, bool heartbeats, std::string* error);
    // 1 when the message was written.
    bool send(int32_t type, const char* payload);
    // Whether the peer has closed the connection (the agent's reading thread
    // has ended). False before connect.
    bool lost() const;
    // Shuts the socket down (waking the reading thread), deletes the agent,
    // closes the socket. Safe to call twice; never from the handler.
    void close();

private:
    static int32_t onMessage(void* self, int32_t type, const char* payload);

    Handler handler_;
    VantrelSocket socket_{};
    bool connected_ = false;
    bool socketsStarted_ = false;
    VantrelMessageAgentHandle agent_ = nullptr;
};

}  // namespace DruxApps
