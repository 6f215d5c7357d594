// One launcher run: the library's host calling order from Init to Remove.
#pragma once

#include "options.h"

namespace DruxHost {

enum ExitStatus {
    kEndedNormally = 0,
    kCouldNotStart = 1,
    kEndedAfterErrors = 2,
    kInterruptedBase = 128,  // + the signal's number
};

// Runs the whole launcher run and returns the process's exit status.
int runLauncher(const Options& options);

}  // namespace DruxHost
