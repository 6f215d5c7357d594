// Threads: the back-end starts a system thread; the record here carries a
// completion signal of its own, so that every wait follows the library's
// clock and can end after a time-out on both systems. A wait that sees the
// end also waits for the system thread to leave, so that a deletion that
// returned has no thread left running the library's last instructions.
#include "core/platform/thread.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "core/platform/clock.h"
#include "core/platform/platform.h"

namespace Drux {

struct ThreadState {
    StateLock mutex;
    bool ended = false;
    uint32_t exitCode = 0;
    std::atomic<uint32_t> threadId{0};
    std::vector<Waker*> waiters;  // wakers of threads inside waitForThread
    NativeThread native{};
    bool started = false;
    std::once_flag exitAwaitedOnce;
    bool exitAwaited = false;  // written inside exitAwaitedOnce only

    ~ThreadState() {
        if (started) releaseSystemThread(native, exitAwaited);
    }

    // Called once `ended` was seen: the body has returned, the system thread
    // has only its return left.
    void awaitExit() {
        std::call_once(exitAwaitedOnce, [this] {
            awaitSystemThreadExit(native);
            exitAwaited = true;
        });
    }

    void finish(uint32_t code) {
        std::lock_guard<StateLock> guard(mutex);
        exitCode = code;
        ended = true;
        for (Waker* waiter : waiters) waiter->notify();
    }
};

void runThreadRecord(void* record) {
    Thread* thread = static_cast<Thread*>(record);
    boost::shared_ptr<ThreadState> state = thread->handle;
    state->threadId.store(currentThreadId());
    const uint32_t exitCode = thread->function(thread->argument);
    {
        // Drop the thread's own reference: the record is freed here when no
        // other reference remains. `thread` is not touched afterwards.
        boost::shared_ptr<Thread> self;
        self.swap(thread->self);
    }
    state->finish(exitCode);
}

boost::shared_ptr<Thread> createThread(uint32_t (*function)(void*), void* argument) {
    boost::shared_ptr<Thread> result(new Thread);
    result->function = function;
    result->argument = argument;
    result->self = result;
    result->handle.reset(new ThreadState);

    ThreadState& state = *result->handle;
    // The new thread never touches `native`: only terminate and release do.
    if (!startSystemThread(result.get(), &state.native)) {
        result->self.reset();
        result->handle.reset();
        return boost::shared_ptr<Thread>();
    }
    state.started = true;
    return result;
}

namespace {

// True once the thread's body has returned, false after timeoutMs.
bool waitForEnd(ThreadState& state, uint32_t timeoutMs) {
    Waker waker;
    const uint32_t start = tickMilliseconds();
    {
        std::lock_guard<StateLock> guard(state.mutex);
        if (state.ended) return true;
        state.waiters.push_back(&waker);
    }
    for (;;) {
        {
            std::lock_guard<StateLock> guard(state.mutex);
            const bool timedOut = timeoutMs != kWaitInfinite && tickMilliseconds() - start >= timeoutMs;
            if (state.ended || timedOut) {
                state.waiters.erase(std::find(state.waiters.begin(), state.waiters.end(), &waker));
                return state.ended;
            }
        }
        if (timeoutMs == kWaitInfinite)
            waker.wait();
        else
            waker.waitUntilTick(start + timeoutMs);
    }
}

}  // namespace

uint32_t waitForThread(const boost::shared_ptr<Thread>& thread, uint32_t timeoutMs) {
    constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;
    if (!thread || !thread->handle) return kWaitFailed;
    ThreadState& state = *thread->handle;
    if (state.threadId.load() == currentThreadId()) return kWaitTimeout;

    if (!waitForEnd(state, timeoutMs)) return kWaitTimeout;
    state.awaitExit();
    return kWaitObject0;
}

bool threadExitCode(const boost::shared_ptr<Thread>& thread, uint32_t* exitCode) {
    if (!thread || !thread->handle || exitCode == nullptr) return false;
    std::lock_guard<StateLock> guard(thread->handle->mutex);
    if (!thread->handle->ended) return false;
    *exitCode = thread->handle->exitCode;
    return true;
}

int threadTerminate(const boost::shared_ptr<Thread>& thread) {
    if (!thread || !thread->handle || !thread->handle->started) return 0;
    return terminateSystemThread(thread->handle->native) ? 1 : 0;
}

}  // namespace Drux
