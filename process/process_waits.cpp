#include "process/process_waits.h"

#include <algorithm>
#include <mutex>
#include <set>

#include "core/platform/clock.h"

namespace ProcessWaits {
namespace {

// An exit wait looks at the interruption this often; the process's end itself
// is noticed at once.
constexpr uint32_t kExitWaitSliceMs = 50;

struct State {
    std::mutex mutex;
    bool interrupted = false;
    std::set<Drux::Waker*> pausing;
};

State& state() {
    static State s;
    return s;
}

}  // namespace

void Interrupt() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.interrupted = true;
    for (Drux::Waker* waker : s.pausing) waker->notify();
}

void Resume() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.interrupted = false;
}

bool Interrupted() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    return s.interrupted;
}

bool Pause(uint32_t milliseconds) {
    State& s = state();
    Drux::Waker waker;
    {
        std::lock_guard<std::mutex> guard(s.mutex);
        if (s.interrupted) return false;
        s.pausing.insert(&waker);
    }
    waker.waitFor(milliseconds);
    std::lock_guard<std::mutex> guard(s.mutex);
    s.pausing.erase(&waker);
    return !s.interrupted;
}

bool WaitForExit(Drux::ProcessId processId, uint32_t timeoutMs) {
    const uint32_t start = Drux::tickMilliseconds();
    for (;;) {
        const uint32_t elapsed = Drux::tickMilliseconds() - start;
        const uint32_t remaining = elapsed < timeoutMs ? timeoutMs - elapsed : 0;
        if (Drux::waitForProcessExit(processId, std::min(remaining, kExitWaitSliceMs))) return true;
        if (remaining <= kExitWaitSliceMs || Interrupted()) return false;
    }
}

}  // namespace ProcessWaits
