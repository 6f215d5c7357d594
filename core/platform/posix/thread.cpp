// Threads on POSIX: detached pthreads with a completion signal of our own, so
// that a wait can end after a time-out (pthread_join cannot).
#include "core/platform/thread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <vector>

#include "core/platform/clock.h"
#include "core/platform/fault_injection.h"

namespace Drux {

struct ThreadState {
    std::mutex mutex;
    bool ended = false;
    uint32_t exitCode = 0;
    std::atomic<uint32_t> threadId{0};
    std::vector<Waker*> waiters;  // wakers of threads inside waitForThread

    void finish(uint32_t code) {
        std::lock_guard<std::mutex> guard(mutex);
        exitCode = code;
        ended = true;
        for (Waker* waiter : waiters) waiter->notify();
    }
};

namespace {

void* threadEntry(void* argument) {
    Thread* thread = static_cast<Thread*>(argument);
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
    return nullptr;
}

}  // namespace

boost::shared_ptr<Thread> createThread(uint32_t (*function)(void*), void* argument) {
    boost::shared_ptr<Thread> result(new Thread);
    result->function = function;
    result->argument = argument;
    result->self = result;
    result->handle.reset(new ThreadState);

    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        result->self.reset();
        return boost::shared_ptr<Thread>();
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t id;
    const int started =
        injectedFault(Fault::ThreadStart) ? EAGAIN : pthread_create(&id, &attributes, threadEntry, result.get());
    pthread_attr_destroy(&attributes);
    if (started != 0) {
        errno = started;
        result->self.reset();
        result->handle.reset();
        return boost::shared_ptr<Thread>();
    }
    return result;
}

uint32_t waitForThread(const boost::shared_ptr<Thread>& thread, uint32_t timeoutMs) {
    constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;
    if (!thread || !thread->handle) return kWaitFailed;
    ThreadState& state = *thread->handle;
    if (state.threadId.load() == currentThreadId()) return kWaitTimeout;

    Waker waker;
    const uint32_t start = tickMilliseconds();
    {
        std::lock_guard<std::mutex> guard(state.mutex);
        if (state.ended) return kWaitObject0;
        state.waiters.push_back(&waker);
    }
    auto leave = [&](uint32_t result) {
        std::lock_guard<std::mutex> guard(state.mutex);
        state.waiters.erase(std::find(state.waiters.begin(), state.waiters.end(), &waker));
        return result;
    };
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(state.mutex);
            if (state.ended) {
                state.waiters.erase(std::find(state.waiters.begin(), state.waiters.end(), &waker));
                return kWaitObject0;
            }
        }
        if (timeoutMs == kWaitInfinite) {
            waker.wait();
            continue;
        }
        const uint32_t elapsed = tickMilliseconds() - start;
        if (elapsed >= timeoutMs) return leave(kWaitTimeout);
        waker.waitUntilTick(start + timeoutMs);
    }
}

bool isCurrentThread(const boost::shared_ptr<Thread>& thread) {
    return thread && thread->handle && thread->handle->threadId.load() == currentThreadId();
}

bool threadExitCode(const boost::shared_ptr<Thread>& thread, uint32_t* exitCode) {
    if (!thread || !thread->handle || exitCode == nullptr) return false;
    std::lock_guard<std::mutex> guard(thread->handle->mutex);
    if (!thread->handle->ended) return false;
    *exitCode = thread->handle->exitCode;
    return true;
}

int threadTerminate(const boost::shared_ptr<Thread>&) { return 0; }

uint32_t currentThreadId() {
    thread_local const uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
    return id;
}

void sleepMilliseconds(uint32_t milliseconds) {
    timespec request{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}

}  // namespace Drux
