#include "agent_connection.h"

#include "system.h"

namespace DruxApps {
namespace {
// Any value but 1 stops the agent's heartbeats; the reading thread writes 0
// when the connection is lost, so a connection without heartbeats keeps 2.
constexpr int32_t kHeartbeatsOff = 2;
}  // namespace

AgentConnection::AgentConnection(Handler handler) : handler_(std::move(handler)) {}

AgentConnection::~AgentConnection() { close(); }

bool AgentConnection::connect(int port, bool heartbeats, std::string* error) {
    if (port <= 0 || port > 65535) {
        *error = "port " + std::to_string(port) + " is not a TCP port (1..65535)";
        return false;
    }
    if (!socketsStarted_ && !startSockets()) {
        *error = "cannot start the socket library";
        return false;
    }
    socketsStarted_ = true;
    VantrelSocket fd{};
    if (!connectLoopback(port, &fd, error)) return false;
    VantrelMessageAgent_Create(&agent_);
    VantrelMessageAgent_SetMessageArrivedCallback(agent_, this, &AgentConnection::onMessage);
    if (!heartbeats) VantrelMessageAgent_SetHeartbeatActive(agent_, kHeartbeatsOff);
    if (VantrelMessageAgent_Start(agent_, fd) != 1) {
        *error = "the message agent did not start (see the log)";
        VantrelMessageAgent_Delete(&agent_);
        closeSocket(fd);
        return false;
    }
    socket_ = fd;
    connected_ = true;
    return true;
}

bool AgentConnection::send(int32_t type, const char* payload) {
    if (agent_ == nullptr) return false;
    return VantrelMessageAgent_SendMessage(agent_, type, payload) == 1;
}

bool AgentConnection::lost() const {
    if (agent_ == nullptr) return false;
    int32_t active = 1;
    VantrelMessageAgent_GetHeartbeatActive(agent_, &active);
    return active == 0;
}

void AgentConnection::close() {
    // The deletion sends what is still queued (a CLOSE, a game's last words),
    // then ends the connection.
    if (agent_ != nullptr) VantrelMessageAgent_Delete(&agent_);
    if (connected_) closeSocket(socket_);
    connected_ = false;
    if (socketsStarted_) stopSockets();
    socketsStarted_ = false;
}

int32_t AgentConnection::onMessage(void* self, int32_t type, const char* payload) {
    static_cast<AgentConnection*>(self)->handler_(type, payload);
    return 1;
}

}  // namespace DruxApps
