// Splitting a Windows command line into arguments.
#pragma once

#include <cstddef>

namespace Drux {

// Splits a Windows command line into arguments by the Windows rules (double
// quotes group, backslashes before a quote escape it). Writes at most
// maxArguments pointers into storage (which must hold commandLine's length + 1
// characters) and returns the count.
size_t splitCommandLine(const char* commandLine, char* storage, char** arguments, size_t maxArguments);

}  // namespace Drux
