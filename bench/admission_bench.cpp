// What the owner check adds to setting a connection up: the accept alone,
// the accept followed by the owner look-up through the kernel's socket
// diagnostics, and through the /proc/net/tcp fallback, interleaved connection
// by connection so that the machine's load falls on all three alike.
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "core/platform/peer_owner.h"
#include "core/platform/socket.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWarmup = 200;
constexpr int kConnections = 3000;

enum Variant { kAcceptOnly, kDiagnostics, kProcNetTcp, kVariants };

// Microseconds from the accept's start to the connection being ready for its
// agent. The client's end resets on close, so no TIME_WAIT entries pile up in
// the tables that the look-up reads.
double acceptOnce(Drux::SocketHandle listener, uint16_t port, Variant variant, bool* sameUser) {
    const Drux::SocketHandle client = Drux::socketCreate();
    Drux::socketConnect(client, port);
    Drux::SocketHandle accepted = Drux::kInvalidSocket;
    Drux::testing::peerOwnerUsesProcNetTcpOnly(variant == kProcNetTcp);
    const auto start = Clock::now();
    Drux::socketAccept(listener, &accepted);
    if (variant != kAcceptOnly) *sameUser = *sameUser && Drux::peerOwner(accepted).owner == Drux::PeerOwner::SameUser;
    const auto end = Clock::now();
    const linger reset{1, 0};
    ::setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    Drux::socketClose(client);
    Drux::socketClose(accepted);
    return std::chrono::duration<double, std::micro>(end - start).count();
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(fraction * static_cast<double>(values.size() - 1))];
}

}  // namespace

int main() {
    const Drux::SocketHandle listener = Drux::socketCreate();
    if (!Drux::socketBind(listener, 0) || !Drux::socketListen(listener)) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        return 1;
    }
    const uint16_t port = Drux::socketLocalPort(listener);
    std::vector<double> times[kVariants];
    bool sameUser = true;
    for (int i = 0; i < kWarmup + kConnections; ++i)
        for (int v = 0; v < kVariants; ++v) {
            const double us = acceptOnce(listener, port, static_cast<Variant>(v), &sameUser);
            if (i >= kWarmup) times[v].push_back(us);
        }
    Drux::socketClose(listener);
    if (!sameUser) {
        std::fprintf(stderr, "the look-up did not find our own connections as ours\n");
        return 1;
    }

    const char* names[kVariants] = {"accept only", "accept + socket diagnostics", "accept + /proc/net/tcp"};
    std::printf("Accepting a loopback connection, %d of each, interleaved, microseconds\n", kConnections);
    std::printf("%-30s %10s %10s %10s\n", "", "median", "p90", "p99");
    for (int v = 0; v < kVariants; ++v)
        std::printf("%-30s %10.1f %10.1f %10.1f\n", names[v], percentile(times[v], 0.5), percentile(times[v], 0.9),
                    percentile(times[v], 0.99));
    std::printf("\nThe check adds (median): %.1f us through socket diagnostics, %.1f us through /proc/net/tcp\n",
                percentile(times[kDiagnostics], 0.5) - percentile(times[kAcceptOnly], 0.5),
                percentile(times[kProcNetTcp], 0.5) - percentile(times[kAcceptOnly], 0.5));
    return 0;
}
