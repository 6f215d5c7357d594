// Waits that can be cut short together: every pause and process-exit wait made
// through one InterruptibleWaits ends at once when it is interrupted, and later
// ones return at once until it is resumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>

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
    mutable StateLock mutex_;
    bool interrupted_ = false;
    std::set<Waker*> sleeping_;
    std::set<Interrupter*> waitingForExit_;
};

}  // namespace Drux
