// A live message agent on one end of a loopback connection; the fuzzer's bytes
// go in at the other end, which then closes its sending side. What the agent
// delivers must be exactly what the model of the wire rules delivers, in
// order, nothing past a malformed or cut-off message, and every delivered
// message other than a REPLY or an INVALID one answered by one REPLY.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "VantrelMessageAgent.h"
#include "core/platform/socket.h"
#include "fuzz/wire_model.h"

namespace {

using FuzzModel::check;

struct Deliveries {
    static int32_t callback(void* self, int32_t type, const char* payload) {
        auto* deliveries = static_cast<Deliveries*>(self);
        std::lock_guard<std::mutex> guard(deliveries->mutex);
        deliveries->list.push_back({type, payload != nullptr, payload != nullptr ? payload : ""});
        return 1;
    }
    std::mutex mutex;
    std::vector<FuzzModel::Delivery> list;
};

Drux::SocketHandle listener() {
    static const Drux::SocketHandle socket = [] {
        const Drux::SocketHandle s = Drux::socketCreate();
        check(Drux::socketBind(s, 0) && Drux::socketListen(s));
        return s;
    }();
    return socket;
}

// Everything the agent sent back, read until `wanted` bytes are there and the
// line is quiet (a queued reply may leave a little after its message).
std::string answers(Drux::SocketHandle socket, size_t wanted) {
    std::string bytes;
    char buffer[4096];
    for (;;) {
        pollfd ready{socket, POLLIN, 0};
        if (::poll(&ready, 1, bytes.size() < wanted ? 2000 : 0) <= 0) return bytes;
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0) return bytes;
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const FuzzModel::Outcome model = FuzzModel::expected(data, size);

    const Drux::SocketHandle peer = Drux::socketCreate();
    Drux::SocketHandle local = Drux::kInvalidSocket;
    check(Drux::socketConnect(peer, Drux::socketLocalPort(listener())) && Drux::socketAccept(listener(), &local));
    Deliveries deliveries;
    VantrelMessageAgentHandle agent = nullptr;
    VantrelMessageAgent_Create(&agent);
    VantrelMessageAgent_SetMessageArrivedCallback(agent, &deliveries, &Deliveries::callback);
    check(VantrelMessageAgent_Start(agent, local) == 1);

    for (size_t done = 0; done < size;) {
        const ssize_t n = ::send(peer, data + done, size - done, MSG_NOSIGNAL);
        if (n <= 0) break;  // the agent may have ended the connection
        done += static_cast<size_t>(n);
    }
    ::shutdown(peer, SHUT_WR);
    // The reading thread ends at the close or at the first fatal header; its
    // end clears the heartbeat flag.
    for (int32_t active = 1; active != 0;) {
        VantrelMessageAgent_GetHeartbeatActive(agent, &active);
        if (active != 0) ::usleep(50);
    }

    const std::string replies = answers(peer, model.replies * 16);
    check(replies.size() == model.replies * 16);
    static const uint8_t kReply[16] = {16, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0};
    for (size_t at = 0; at < replies.size(); at += 16) check(std::memcmp(replies.data() + at, kReply, 16) == 0);
    {
        std::lock_guard<std::mutex> guard(deliveries.mutex);
        check(deliveries.list == model.delivered);
    }

    Drux::socketShutdown(local);
    VantrelMessageAgent_Delete(&agent);
    Drux::socketClose(local);
    Drux::socketClose(peer);
    return 0;
}
