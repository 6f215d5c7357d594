// What the win32 Interrupter's handle points to: an event for the waits on
// kernel objects (processes), and a datagram socket that is readable while the
// interrupter is signalled, for the socket waits, which select() serves.
// select() watches any number of sockets from any number of threads at once;
// WSAEventSelect would not do: one socket holds one event association, so the
// reader's and the writer's waits on one connection would cancel each other.
#pragma once

#include "core/platform/interrupter.h"
#include "core/platform/state_lock.h"
#include "core/platform/win32/windows_headers.h"

namespace Drux {

struct InterrupterObject {
    HANDLE event = nullptr;
    StateLock lock;
    bool signalled = false;
    // Made on the first socket wait (Windows Sockets is started by then), and
    // connected to itself: a signal sends it one datagram, a reset reads them.
    SOCKET wakeSocket = INVALID_SOCKET;
};

inline InterrupterObject& interrupterObject(const Interrupter& interrupter) {
    return *static_cast<InterrupterObject*>(interrupter.descriptor());
}

// The interrupter's socket, made on first use; INVALID_SOCKET on failure.
SOCKET interrupterSocket(const Interrupter& interrupter);

}  // namespace Drux
