// Threads of the library: started with a body and an argument, waited for with
// a time-out. The running thread holds a reference to its own record, so the
// record outlives every other reference until the body has returned.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>

namespace Drux {

struct ThreadState;  // completion signal, waiters and the back-end's thread

struct Thread {
    uint32_t (*function)(void*) = nullptr;
    void* argument = nullptr;
    boost::shared_ptr<ThreadState> handle;  // null if the start failed
    boost::shared_ptr<Thread> self;         // held while the body runs
};

// Starts a thread running function(argument). Null if the system refused.
boost::shared_ptr<Thread> createThread(uint32_t (*function)(void*), void* argument);

// Result of waitForThread: the thread has ended, or the time-out passed first.
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitInfinite = 0xFFFFFFFFu;

// Waits at most timeoutMs (kWaitInfinite: no limit) for the thread's body to
// return. kWaitObject0 when it has ended. A thread may not wait for itself:
// that returns kWaitTimeout at once.
uint32_t waitForThread(const boost::shared_ptr<Thread>& thread, uint32_t timeoutMs);

// The value the thread's body returned; false while it still runs.
bool threadExitCode(const boost::shared_ptr<Thread>& thread, uint32_t* exitCode);

// Forced termination is not offered on POSIX: always returns 0 (failure) there.
int threadTerminate(const boost::shared_ptr<Thread>& thread);

// A non-zero identifier of the calling thread.
uint32_t currentThreadId();

// Suspends the calling thread (real time; see clock.h for waits that follow
// the test clock).
void sleepMilliseconds(uint32_t milliseconds);

}  // namespace Drux
