// The wake-up on POSIX: a non-blocking self-pipe and sigaction handlers.
#include "wakeup.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace DruxHost {
namespace {

int g_pipe[2] = {-1, -1};
std::atomic<int> g_firstSignal{0};
std::atomic<int> g_signalCount{0};

void onSignal(int number) {
    const int savedErrno = errno;
    int none = 0;
    g_firstSignal.compare_exchange_strong(none, number);
    g_signalCount.fetch_add(1);
    Wakeup::notify();
    errno = savedErrno;
}

}  // namespace

bool Wakeup::install() {
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

void Wakeup::notify() {
    const char byte = 1;
    if (g_pipe[1] >= 0 && ::write(g_pipe[1], &byte, 1) < 0) {
        // A full pipe already holds a wake-up.
    }
}

void Wakeup::wait(int timeoutMs) {
    pollfd readable{g_pipe[0], POLLIN, 0};
    if (::poll(&readable, 1, timeoutMs) > 0) {
        char buffer[64];
        while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
        }
    }
}

int Wakeup::firstSignal() { return g_firstSignal.load(); }
int Wakeup::signalCount() { return g_signalCount.load(); }

}  // namespace DruxHost
