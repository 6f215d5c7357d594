// The calling thread's last system error: its code, its text, and keeping it
// across calls that may change it. Layers above the platform use these only,
// never errno or GetLastError.
#pragma once

#include <string>

namespace Drux {

// The last error code of the calling thread (errno on POSIX).
int lastErrorCode();
// The system's message for the last error, ending in a line end like the
// system text on Windows. Empty when the system has none.
std::string lastErrorText();

// A last error taken aside, to be made the last error again after work that
// may overwrite it (logging, a pause).
struct SystemError {
    int code = 0;
};
SystemError saveLastError();
void restoreLastError(SystemError error);

// Failures that the library finds itself, before asking the system; set as the
// last error so that the system-error line and the code tell them alike.
enum class LibraryFailure {
    InvalidArgument,  // a required argument is missing
    TooLong,          // a text is longer than the system takes
};
void setLastError(LibraryFailure failure);

}  // namespace Drux
