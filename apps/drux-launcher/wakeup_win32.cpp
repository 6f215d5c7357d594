// The wake-up on Windows: an auto-reset event, set by the console control
// handler (Ctrl+C as SIGINT; Ctrl+Break and closing the console as SIGTERM)
// and by the library's callbacks.
#include <windows.h>

#include <atomic>
#include <csignal>

#include "wakeup.h"

namespace DruxHost {
namespace {

HANDLE g_event = nullptr;
std::atomic<int> g_firstSignal{0};
std::atomic<int> g_signalCount{0};

BOOL WINAPI onControl(DWORD type) {
    const int number = type == CTRL_C_EVENT ? SIGINT : SIGTERM;
    int none = 0;
    g_firstSignal.compare_exchange_strong(none, number);
    g_signalCount.fetch_add(1);
    Wakeup::notify();
    return TRUE;
}

}  // namespace

bool Wakeup::install() {
    g_event = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return g_event != nullptr && ::SetConsoleCtrlHandler(onControl, TRUE) != FALSE;
}

void Wakeup::notify() {
    if (g_event != nullptr) ::SetEvent(g_event);
}

void Wakeup::wait(int timeoutMs) {
    ::WaitForSingleObject(g_event, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
}

int Wakeup::firstSignal() { return g_firstSignal.load(); }
int Wakeup::signalCount() { return g_signalCount.load(); }

}  // namespace DruxHost
