#include "core/interruptible_waits.h"

namespace Drux {

bool InterruptibleWaits::cutShort(std::thread::id thread) const {
    return interrupted_ || interruptedThreads_.count(thread) > 0;
}

void InterruptibleWaits::interrupt() {
    std::lock_guard<StateLock> guard(mutex_);
    interrupted_ = true;
    for (const auto& sleeper : sleeping_) sleeper.first->notify();
    for (const auto& waiter : waitingForExit_) waiter.first->signal();
}

void InterruptibleWaits::resume() {
    std::lock_guard<StateLock> guard(mutex_);
    interrupted_ = false;
}

void InterruptibleWaits::interruptThread(std::thread::id thread) {
    std::lock_guard<StateLock> guard(mutex_);
    interruptedThreads_.insert(thread);
    for (const auto& sleeper : sleeping_)
        if (sleeper.second == thread) sleeper.first->notify();
    for (const auto& waiter : waitingForExit_)
        if (waiter.second == thread) waiter.first->signal();
}

void InterruptibleWaits::resumeThread(std::thread::id thread) {
    std::lock_guard<StateLock> guard(mutex_);
    interruptedThreads_.erase(thread);
}

bool InterruptibleWaits::interrupted() const {
    std::lock_guard<StateLock> guard(mutex_);
    return cutShort(std::this_thread::get_id());
}

bool InterruptibleWaits::sleep(uint32_t milliseconds) {
    const std::thread::id self = std::this_thread::get_id();
    Waker waker;
    {
        std::lock_guard<StateLock> guard(mutex_);
        if (cutShort(self)) return false;
        sleeping_.emplace(&waker, self);
    }
    waker.waitFor(milliseconds);
    std::lock_guard<StateLock> guard(mutex_);
    sleeping_.erase(&waker);
    return !cutShort(self);
}

bool InterruptibleWaits::waitForProcessExit(ProcessId processId, uint32_t timeoutMs) {
    const std::thread::id self = std::this_thread::get_id();
    Interrupter interrupter;
    {
        std::lock_guard<StateLock> guard(mutex_);
        // Interrupted already: the wait only looks whether the process has ended.
        if (cutShort(self)) interrupter.signal();
        waitingForExit_.emplace(&interrupter, self);
    }
    const bool ended = Drux::waitForProcessExit(processId, timeoutMs, interrupter);
    std::lock_guard<StateLock> guard(mutex_);
    waitingForExit_.erase(&interrupter);
    return ended;
}

size_t InterruptibleWaits::inProgress() const {
    std::lock_guard<StateLock> guard(mutex_);
    return sleeping_.size() + waitingForExit_.size();
}

}  // namespace Drux
