// The owner of a loopback peer on Linux. SO_PEERCRED answers only for Unix
// sockets, so the peer's TCP socket is found by its address pair in the
// kernel's socket diagnostics (the peer's local address is our remote one and
// the other way round) and its owning uid read from there; /proc/net/tcp,
// which carries the same uid and inode, stands in where the diagnostics are
// not available. An inode of 0 means that no process holds the socket any
// more, and then its uid is no evidence: the kernel reports 0 for such
// sockets on many versions.
#include "core/platform/peer_owner.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace Drux {
namespace {

std::atomic<bool> g_procNetTcpOnly{false};

enum class Found { Owner, Gone, Failed };

struct Lookup {
    Found found = Found::Failed;
    uint32_t uid = 0;
    char why[96] = {};
};

void format(char* buffer, size_t size, const char* pattern, ...) __attribute__((format(printf, 3, 4)));
void format(char* buffer, size_t size, const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buffer, size, pattern, args);
    va_end(args);
}

Lookup failed(const char* pattern, const char* reason) {
    Lookup lookup;
    format(lookup.why, sizeof lookup.why, pattern, reason);
    return lookup;
}

// `held`: a process still holds the socket (its inode is not 0).
Lookup owner(uint32_t uid, bool held) {
    Lookup lookup;
    lookup.found = held ? Found::Owner : Found::Gone;
    lookup.uid = uid;
    return lookup;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// One exact look-up of the socket whose local end is `peer` and whose remote
// end is `local`. The kernel answers inside the send, so the receive never
// waits.
Lookup bySocketDiagnostics(const sockaddr_in& local, const sockaddr_in& peer) {
    const Descriptor link(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (link.get() < 0) return failed("socket diagnostics: %s", std::strerror(errno));

    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } query{};
    query.header.nlmsg_len = sizeof query;
    query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    query.header.nlmsg_flags = NLM_F_REQUEST;
    query.header.nlmsg_seq = 1;
    query.request.sdiag_family = AF_INET;
    query.request.sdiag_protocol = IPPROTO_TCP;
    query.request.idiag_states = ~0u;
    query.request.id.idiag_sport = peer.sin_port;
    query.request.id.idiag_dport = local.sin_port;
    query.request.id.idiag_src[0] = peer.sin_addr.s_addr;
    query.request.id.idiag_dst[0] = local.sin_addr.s_addr;
    query.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    query.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t n;
    do {
        n = ::sendto(link.get(), &query, sizeof query, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return failed("socket diagnostics: %s", std::strerror(errno));

    alignas(nlmsghdr) char answer[4096];
    do {
        n = ::recv(link.get(), answer, sizeof answer, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return failed("socket diagnostics gave no answer: %s", std::strerror(errno));

    // Unsigned, as the netlink macros compare it with unsigned message lengths.
    unsigned int length = static_cast<unsigned int>(n);
    for (auto* message = reinterpret_cast<nlmsghdr*>(answer); NLMSG_OK(message, length);
         message = NLMSG_NEXT(message, length)) {
        if (message->nlmsg_type == NLMSG_ERROR) {
            if (message->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) break;
            const int error = -static_cast<const nlmsgerr*>(NLMSG_DATA(message))->error;
            // Not found: the peer's socket is gone altogether.
            if (error == ENOENT) return owner(0, false);
            return failed("socket diagnostics: %s", std::strerror(error));
        }
        if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY || message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
            continue;
        const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
        if (found->id.idiag_sport != peer.sin_port || found->id.idiag_dport != local.sin_port) continue;
        return owner(found->idiag_uid, found->idiag_inode != 0);
    }
    return failed("socket diagnostics: %s", "no entry in the answer");
}

// The same look-up through the text table: addresses as the kernel prints
// them (the address's raw 32 bits and the port, both in hexadecimal).
Lookup byProcNetTcp(const sockaddr_in& local, const sockaddr_in& peer) {
    FILE* table = std::fopen("/proc/net/tcp", "re");
    if (table == nullptr) return failed("/proc/net/tcp: %s", std::strerror(errno));
    char peerEnd[16], localEnd[16];
    format(peerEnd, sizeof peerEnd, "%08X:%04X", peer.sin_addr.s_addr, ntohs(peer.sin_port));
    format(localEnd, sizeof localEnd, "%08X:%04X", local.sin_addr.s_addr, ntohs(local.sin_port));

    Lookup lookup = owner(0, false);  // no line: the peer's socket is gone altogether
    char line[512];
    while (std::fgets(line, sizeof line, table) != nullptr) {
        char from[16] = {}, to[16] = {};
        unsigned uid = 0;
        unsigned long inode = 0;
        if (std::sscanf(line, " %*u: %15s %15s %*x %*s %*s %*s %u %*d %lu", from, to, &uid, &inode) != 4) continue;
        if (std::strcmp(from, peerEnd) != 0 || std::strcmp(to, localEnd) != 0) continue;
        lookup = owner(uid, inode != 0);
        break;
    }
    std::fclose(table);
    return lookup;
}

bool addresses(SocketHandle socket, sockaddr_in* local, sockaddr_in* peer, PeerOwnerResult* result) {
    socklen_t localLength = sizeof *local, peerLength = sizeof *peer;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(local), &localLength) != 0 ||
        ::getpeername(socket, reinterpret_cast<sockaddr*>(peer), &peerLength) != 0) {
        format(result->detail, sizeof result->detail, "the connection's addresses cannot be read: %s",
               std::strerror(errno));
        return false;
    }
    if (local->sin_family != AF_INET || peer->sin_family != AF_INET) {
        format(result->detail, sizeof result->detail, "not an IPv4 connection");
        return false;
    }
    return true;
}

}  // namespace

PeerOwnerResult peerOwner(SocketHandle accepted) {
    PeerOwnerResult result;
    sockaddr_in local{}, peer{};
    if (!addresses(accepted, &local, &peer, &result)) return result;

    Lookup diagnostics;
    if (!g_procNetTcpOnly.load()) diagnostics = bySocketDiagnostics(local, peer);
    Lookup lookup = diagnostics;
    if (lookup.found == Found::Failed) lookup = byProcNetTcp(local, peer);

    switch (lookup.found) {
        case Found::Owner:
            if (lookup.uid == static_cast<uint32_t>(::geteuid())) {
                result.owner = PeerOwner::SameUser;
            } else {
                result.owner = PeerOwner::OtherUser;
                format(result.detail, sizeof result.detail, "%u", lookup.uid);
            }
            break;
        case Found::Gone:
            result.owner = PeerOwner::Closed;
            format(result.detail, sizeof result.detail, "no process holds the peer's socket");
            break;
        case Found::Failed:
            result.owner = PeerOwner::Unknown;
            if (diagnostics.why[0] != '\0')
                format(result.detail, sizeof result.detail, "%s; %s", diagnostics.why, lookup.why);
            else
                format(result.detail, sizeof result.detail, "%s", lookup.why);
            break;
    }
    return result;
}

namespace testing {
void peerOwnerUsesProcNetTcpOnly(bool only) { g_procNetTcpOnly.store(only); }
}  // namespace testing

}  // namespace Drux
