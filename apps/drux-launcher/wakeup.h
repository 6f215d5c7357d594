// Wakes the launcher's loop: the SIGINT/SIGTERM handlers (console control
// events on Windows) and the library's callbacks only notify it, so that the
// loop never does its real work inside a signal handler or a callback.
// wakeup_posix.cpp uses a self-pipe, wakeup_win32.cpp an event.
#pragma once

namespace DruxHost {

class Wakeup {
public:
    // Creates the wake-up object and installs the handlers.
    static bool install();
    // Async-signal-safe.
    static void notify();
    // Waits until notified or timeoutMs pass; consumes the notifications.
    static void wait(int timeoutMs);
    // The first signal received (0: none) and how many have come.
    static int firstSignal();
    static int signalCount();
};

}  // namespace DruxHost
