// The one clock of the library. Every time stamp and every timed wait goes
// through it, so that tests can move time instead of waiting it out.
//
// tickMilliseconds() is the system's millisecond tick (milliseconds since the
// system started, 32 bits, wrapping) plus the offset that tests add with
// testing::advanceClock().
#pragma once

#include <cstdint>

#include "core/platform/state_lock.h"

namespace Drux {

uint32_t tickMilliseconds();
// tickMilliseconds() / 1000, truncated.
uint32_t tickSeconds();

// A wake-up point for one waiting thread. wait() returns when notify() was
// called (the notification is consumed) or when the clock has reached the
// deadline; moving the test clock wakes every waiter to look again.
class Waker {
public:
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    void notify();
    // Waits until notified or until `milliseconds` of clock time have passed
    // since the call. Returns true when notified.
    bool waitFor(uint32_t milliseconds);
    // Waits until notified or until tickMilliseconds() reaches `deadlineTick`
    // (compared as a signed 32-bit difference, so the 32-bit wrap is handled).
    // The deadline is absolute: a clock move that happens before the call is
    // not missed. Returns true when notified.
    bool waitUntilTick(uint32_t deadlineTick);
    // Waits until notified, without a time limit.
    void wait();

private:
    friend void clockMoved();
    StateLock mutex_;
    StateCondition cv_;
    bool notified_ = false;
    uint64_t clockGeneration_ = 0;
};

// Sleeps for `milliseconds` of clock time (ends early when tests move the clock).
void sleepClockMilliseconds(uint32_t milliseconds);

namespace testing {
// Moves the library's clock forward and wakes every timed wait.
void advanceClock(uint32_t milliseconds);
}  // namespace testing

}  // namespace Drux
