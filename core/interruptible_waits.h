// Waits that can be cut short together: every pause and process-exit wait made
// through one InterruptibleWaits ends at once when it is interrupted, and later
// ones return at once until it is resumed. The waits of one thread can also be
// cut short alone, leaving those of other threads to run their course.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <thread>

#include "core/platform/clock.h"
#include "core/platform/interrupter.h"
#include "core/platform/process.h"
#include "core/platform/state_lock.h"

namespace Drux {

class InterruptibleWaits {
public:
    InterruptibleWaits() = default;
    InterruptibleWaits(const InterruptibleWaits&) = delete;
    InterruptibleWaits& operator=(const InterruptibleWaits&) = delete;

    // Wakes every wait now in progress; later ones return at once until resume().
    void interrupt();
    void resume();
    // The same for the waits of one thread only.
    void interruptThread(std::thread::id thread);
    void resumeThread(std::thread::id thread);
    // Whether waits of the calling thread return at once.
    bool interrupted() const;

    // Sleeps `milliseconds` of clock time. False when cut short (or not begun)
    // because of an interruption.
    bool sleep(uint32_t milliseconds);
    // Drux::waitForProcessExit that also ends (false) on an interruption. True
    // when the process has ended or cannot be waited on; a process that has
    // already ended counts as ended even after an interruption.
    bool waitForProcessExit(ProcessId processId, uint32_t timeoutMs);
    // How many sleeps and exit waits are in progress now: lets a test know
    // that a thread has reached its wait before it checks what did not happen.
    size_t inProgress() const;

private:
    // Called with the lock held.
    bool cutShort(std::thread::id thread) const;

    mutable StateLock mutex_;
    bool interrupted_ = false;
    std::set<std::thread::id> interruptedThreads_;
    std::map<Waker*, std::thread::id> sleeping_;
    std::map<Interrupter*, std::thread::id> waitingForExit_;
};

}  // namespace Drux
