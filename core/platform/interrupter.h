// A wake-up object for the platform's blocking waits (a socket becoming ready,
// a process ending): ready once signalled, and it stays so until reset.
#pragma once

#include "core/platform/native.h"

namespace Drux {

class Interrupter {
public:
    Interrupter();
    ~Interrupter();
    Interrupter(const Interrupter&) = delete;
    Interrupter& operator=(const Interrupter&) = delete;
    void signal();
    // Back to unsignalled, so that a wake-up can be armed again.
    void reset();
    // The back-end's object that its waits watch (an eventfd, an event).
    NativeHandle descriptor() const { return handle_; }

private:
    NativeHandle handle_ = kInvalidNativeHandle;
};

}  // namespace Drux
