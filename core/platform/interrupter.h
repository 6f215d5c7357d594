// A wake-up descriptor for the platform's blocking waits (a socket becoming
// readable, a process ending): readable once signalled, and it stays so until
// reset() re-arms it.
#pragma once

namespace Drux {

class Interrupter {
public:
    Interrupter();
    ~Interrupter();
    Interrupter(const Interrupter&) = delete;
    Interrupter& operator=(const Interrupter&) = delete;
    void signal();
    // Back to unsignalled, so that a waiter can be woken again later.
    void reset();
    int descriptor() const { return fd_; }

private:
    int fd_ = -1;
};

}  // namespace Drux
