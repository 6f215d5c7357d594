#include "core/interruptible_waits.h"

namespace Drux {

void InterruptibleWaits::interrupt() {
    std::lock_guard<StateLock> guard(mutex_);
    interrupted_ = true;
    for (Waker* waker : sleeping_) waker->notify();
    for (Interrupter* interrupter : waitingForExit_) interrupter->signal();
}

void InterruptibleWaits::resume() {
    std::lock_guard<StateLock> guard(mutex_);
    interrupted_ = false;
}

bool InterruptibleWaits::interrupted() const {
    std::lock_guard<StateLock> guard(mutex_);
    return interrupted_;
}

bool InterruptibleWaits::sleep(uint32_t milliseconds) {
    Waker waker;
    {
        std::lock_guard<StateLock> guard(mutex_);
        if (interrupted_) return false;
        sleeping_.insert(&waker);
    }
    waker.waitFor(milliseconds);
    std::lock_guard<StateLock> guard(mutex_);
    sleeping_.erase(&waker);
    return !interrupted_;
}

bool InterruptibleWaits::waitForProcessExit(ProcessId processId, uint32_t timeoutMs) {
    Interrupter interrupter;
    {
        std::lock_guard<StateLock> guard(mutex_);
        // Interrupted already: the wait only looks whether the process has ended.
        if (interrupted_) interrupter.signal();
        waitingForExit_.insert(&interrupter);
    }
    const bool ended = Drux::waitForProcessExit(processId, timeoutMs, interrupter);
    std::lock_guard<StateLock> guard(mutex_);
    waitingForExit_.erase(&interrupter);
    return ended;
}

size_t InterruptibleWaits::inProgress() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return sleeping_.size() + waitingForExit_.size();
}

}  // namespace Drux
