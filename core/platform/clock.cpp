// The library's clock: the back-end's monotonic milliseconds, truncated to 32
// bits like the Windows multimedia timer, plus the test offset; and the wakers
// that every timed wait uses, which a clock move wakes to look again.
#include "core/platform/clock.h"

#include <atomic>
#include <chrono>
#include <set>

#include "core/platform/platform.h"

namespace Drux {
namespace {

std::atomic<int64_t> g_offsetMs{0};

StateLock& registryMutex() {
    static StateLock m;
    return m;
}
std::set<Waker*>& registry() {
    static std::set<Waker*> wakers;
    return wakers;
}

// The clock without truncation, for computing deadlines.
int64_t nowMilliseconds64() { return monotonicMilliseconds() + g_offsetMs.load(std::memory_order_relaxed); }

}  // namespace

uint32_t tickMilliseconds() { return static_cast<uint32_t>(nowMilliseconds64()); }

uint32_t tickSeconds() { return tickMilliseconds() / 1000; }

void clockMoved() {
    std::lock_guard<StateLock> guard(registryMutex());
    for (Waker* waker : registry()) {
        std::lock_guard<StateLock> lock(waker->mutex_);
        ++waker->clockGeneration_;
        waker->cv_.notify_all();
    }
}

Waker::Waker() {
    std::lock_guard<StateLock> guard(registryMutex());
    registry().insert(this);
}

Waker::~Waker() {
    std::lock_guard<StateLock> guard(registryMutex());
    registry().erase(this);
}

void Waker::notify() {
    std::lock_guard<StateLock> lock(mutex_);
    notified_ = true;
    cv_.notify_all();
}

bool Waker::waitFor(uint32_t milliseconds) {
    const int64_t deadline = nowMilliseconds64() + milliseconds;
    std::unique_lock<StateLock> lock(mutex_);
    for (;;) {
        if (notified_) {
            notified_ = false;
            return true;
        }
        const int64_t remaining = deadline - nowMilliseconds64();
        if (remaining <= 0) return false;
        const uint64_t generation = clockGeneration_;
        cv_.wait_for(lock, std::chrono::milliseconds(remaining),
                     [&] { return notified_ || clockGeneration_ != generation; });
    }
}

bool Waker::waitUntilTick(uint32_t deadlineTick) {
    std::unique_lock<StateLock> lock(mutex_);
    for (;;) {
        if (notified_) {
            notified_ = false;
            return true;
        }
        // Read under the lock: a clock move either happened before (and is
        // seen here) or bumps the generation while this thread waits.
        const int32_t remaining = static_cast<int32_t>(deadlineTick - tickMilliseconds());
        if (remaining <= 0) return false;
        const uint64_t generation = clockGeneration_;
        cv_.wait_for(lock, std::chrono::milliseconds(remaining),
                     [&] { return notified_ || clockGeneration_ != generation; });
    }
}

void Waker::wait() {
    std::unique_lock<StateLock> lock(mutex_);
    cv_.wait(lock, [&] { return notified_; });
    notified_ = false;
}

void sleepClockMilliseconds(uint32_t milliseconds) {
    Waker waker;
    waker.waitFor(milliseconds);
}

namespace testing {
void advanceClock(uint32_t milliseconds) {
    g_offsetMs.fetch_add(milliseconds, std::memory_order_relaxed);
    clockMoved();
}
}  // namespace testing

}  // namespace Drux
