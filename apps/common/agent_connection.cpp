#include "agent_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("cannot create a socket: ") + std::strerror(errno);
        return false;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        *error = "cannot connect to 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    VantrelMessageAgent_Create(&agent_);
    VantrelMessageAgent_SetMessageArrivedCallback(agent_, this, &AgentConnection::onMessage);
    if (!heartbeats) VantrelMessageAgent_SetHeartbeatActive(agent_, kHeartbeatsOff);
    if (VantrelMessageAgent_Start(agent_, fd) != 1) {
        *error = "the message agent did not start (see the log)";
        VantrelMessageAgent_Delete(&agent_);
        ::close(fd);
        return false;
    }
    socket_ = fd;
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
    if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
    if (agent_ != nullptr) VantrelMessageAgent_Delete(&agent_);
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
}

int32_t AgentConnection::onMessage(void* self, int32_t type, const char* payload) {
    static_cast<AgentConnection*>(self)->handler_(type, payload);
    return 1;
}

}  // namespace DruxApps
