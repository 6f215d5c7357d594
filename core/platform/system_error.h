// The system's text for the calling thread's last error.
#pragma once

#include <string>

namespace Drux {

// The last error code of the calling thread (errno on POSIX).
int lastErrorCode();
// The system's message for the last error, ending in a line end like the
// system text on Windows. Empty when the system has none.
std::string lastErrorText();

}  // namespace Drux
