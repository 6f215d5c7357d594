// The library's second and last lock type. Drux::Mutex (mutex.h) guards work
// that calls out (writing a log line, sending a message): it tracks its owner
// and ends the process on misuse. Drux::StateLock guards a few words of state
// for a few instructions, never across a call out of the function that holds
// it, and is the one lock a Drux::StateCondition waits with (a Mutex cannot be
// waited on). Nothing in the library uses any other lock.
#pragma once

#include <condition_variable>
#include <mutex>

namespace Drux {

using StateLock = std::mutex;
using StateCondition = std::condition_variable;

}  // namespace Drux
