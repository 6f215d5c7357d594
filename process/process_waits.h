// The waits of the process helper that can be cut short: the pauses of a start
// and the waits for a program to end. The launcher controller interrupts them
// while it is being removed, so that a connection blocked in a start or a stop
// lets go at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <thread>

#include "core/platform/process.h"

namespace ProcessWaits {

// Wakes every pause and exit wait now in progress; later ones return at once
// until Resume.
void Interrupt();
void Resume();
// The same for the pauses and exit waits of one thread only (a start that is
// being stopped); the other threads' waits run their course.
void InterruptThread(std::thread::id thread);
void ResumeThread(std::thread::id thread);
// Whether the calling thread's pauses and exit waits return at once.
bool Interrupted();

// Sleeps `milliseconds` of clock time. False when interrupted.
bool Pause(uint32_t milliseconds);
// Drux::waitForProcessExit that ends early (false) when interrupted. True when
// the process has ended or cannot be waited on.
bool WaitForExit(Drux::ProcessId processId, uint32_t timeoutMs);
// How many pauses and exit waits are in progress now (a probe for tests).
size_t InProgress();

}  // namespace ProcessWaits
