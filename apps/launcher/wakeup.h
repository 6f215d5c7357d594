// Wakes the launcher's loop: a self-pipe that the SIGINT/SIGTERM handlers and
// the library's callbacks write one byte to, so that the loop never does its
// real work inside a signal handler or a callback.
#pragma once

namespace DruxHost {

class Wakeup {
public:
    // Creates the pipe and installs the handlers for SIGINT and SIGTERM.
    static bool install();
    // Async-signal-safe.
    static void notify();
    // Waits until notified or timeoutMs pass; drains the pipe.
    static void wait(int timeoutMs);
    // The first signal received (0: none) and how many have come.
    static int firstSignal();
    static int signalCount();
};

}  // namespace DruxHost
