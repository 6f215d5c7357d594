// The waits of the process helper that can be cut short: the pauses of a start
// and the waits for a program to end. The launcher controller interrupts them
// while it is being removed (all of them) or while a start is being stopped
// (that start's thread only), so that a connection blocked in a start or a
// stop lets go at once.
#pragma once

#include "core/interruptible_waits.h"

namespace Drux {

InterruptibleWaits& processWaits();

}  // namespace Drux
