// The library's lock around work that calls out (a log line, a message being
// written): not re-entrant, with owner tracking. Locking it twice on one
// thread, or unlocking it from a thread that does not hold it, ends the
// process. State that a thread waits on uses Drux::StateLock (state_lock.h).
#pragma once

#include <boost/shared_ptr.hpp>
#include <atomic>
#include <cstdint>

#include "core/platform/state_lock.h"

namespace Drux {

class Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock();
    void unlock();

private:
    std::atomic<uint32_t> owner_{0};
    StateLock section_;
};

boost::shared_ptr<Mutex> createMutex();

// Locks on construction, unlocks on destruction. Keeps a plain pointer: the
// caller keeps the mutex alive for the lock's lifetime.
class ScopedLock {
public:
    explicit ScopedLock(const boost::shared_ptr<Mutex>& mutex);
    ~ScopedLock();
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    Mutex* mutex_;
};

}  // namespace Drux
