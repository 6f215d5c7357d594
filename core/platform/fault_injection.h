// Failures on demand for tests, at the few calls whose failure paths cannot be
// arranged for real: a refused accept, a thread the system will not start, a
// send that takes only part of the bytes, a call interrupted by a signal, and
// an allocation that fails. The back-ends consult it right before the system
// call; without a test arming it, each check is one relaxed atomic load.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Drux {

enum class Fault { Accept, ThreadStart, ShortSend, Interrupted, Allocation };

// For the back-ends and the allocation it guards: true when this call is to
// fail (one armed failure is used up). The caller then fails the way the
// system would: Accept with EMFILE, ThreadStart with EAGAIN, Interrupted with
// EINTR (and retries as for a real one), Allocation as an out-of-memory.
bool injectedFault(Fault fault);

// For a back-end's send: the length to hand to the system, shortened to half
// (at least one byte) when a short send is armed.
size_t injectedSendLength(size_t length);

namespace testing {
// The next `count` calls that consult `fault` fail; 0 disarms it.
void failNext(Fault fault, uint32_t count);
// How many armed failures of `fault` are still unused.
uint32_t faultsLeft(Fault fault);
// Disarms every fault.
void clearFaults();
}  // namespace testing

}  // namespace Drux
