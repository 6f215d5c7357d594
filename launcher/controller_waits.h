// What lets VantrelServerController_Remove return promptly: every wait that a
// message handler makes is cut short once removal has begun, and nothing is
// started or called back after that. Also marks the threads that are running a
// host callback, so that exports which would free or replace the controller
// under that callback can refuse.
#pragma once

#include <cstdint>

namespace ControllerWaits {

// A new controller exists: waits run their full length again.
void Open();
// Removal has begun: wakes every wait now in progress and makes later ones
// return at once.
void Close();
// True from Close until the next Open.
bool Closing();
// Waits for `milliseconds` of clock time. False when the wait was cut short
// (or not begun) because removal has begun.
bool Sleep(uint32_t milliseconds);

// Marks the calling thread as running a host callback for its lifetime.
class CallbackScope {
public:
    CallbackScope();
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;
};
// Whether the calling thread is inside a host callback of the controller.
bool InsideCallback();
// For the exports that must not run inside a callback: when the calling thread
// is inside one, logs ERROR "<exportName> cannot be called from inside a
// controller callback.\n" and returns true.
bool RefusedInsideCallback(const char* exportName);

}  // namespace ControllerWaits
