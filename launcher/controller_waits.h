// What lets VantrelServerController_Remove return promptly: the message
// handlers are counted while they run, every wait they make is cut short once
// removal has begun, and nothing is started or called back after that. Also
// marks the threads that are running a host callback, so that exports which
// would free or replace the controller under that callback can refuse.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ControllerWaits {

// The words of Drux::InterruptibleWaits, for the controller's own waits.
// Removal has begun: wakes every wait now in progress and makes later ones
// return at once.
void interrupt();
// A new controller exists: waits run their full length again.
void resume();
// True from interrupt() until the next resume(), and for a handler that began
// under an earlier controller.
bool interrupted();
// Waits for `milliseconds` of clock time. False when the wait was cut short
// (or not begun) because removal has begun.
bool sleep(uint32_t milliseconds);
// How many of these sleeps are in progress now (a probe for tests).
size_t inProgress();

// Counts the calling message handler in for its lifetime.
class HandlerScope {
public:
    HandlerScope();
    ~HandlerScope();
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;

private:
    uint64_t previousGeneration_;
};
// After Close: waits until no handler runs, at most `milliseconds`. True when none runs.
bool waitForHandlers(uint32_t milliseconds);

// Marks the calling thread as running a host callback for its lifetime.
class CallbackScope {
public:
    CallbackScope();
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;
};
// For the exports that must not run inside a callback: when the calling thread
// is inside one, logs ERROR "<exportName> cannot be called from inside a
// controller callback.\n" and returns true.
bool refusedInsideCallback(const char* exportName);

}  // namespace ControllerWaits
