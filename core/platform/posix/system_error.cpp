// The last error on POSIX: errno, and strerror(errno) followed by a line end,
// as the system text on Windows ends with one.
#include "core/platform/system_error.h"

#include <cerrno>
#include <cstring>

namespace Drux {
namespace {

// strerror_r comes in two flavours; both end up as a pointer to the text.
[[maybe_unused]] const char* errorText(int result, const char* buffer) { return result == 0 ? buffer : nullptr; }
[[maybe_unused]] const char* errorText(const char* result, const char*) { return result; }

}  // namespace

int lastErrorCode() { return errno; }

std::string lastErrorText() {
    const int code = errno;
    char buffer[256] = {};
    const char* text = errorText(strerror_r(code, buffer, sizeof buffer), buffer);
    errno = code;
    if (text == nullptr || text[0] == '\0') return std::string();
    return std::string(text) + "\n";
}

SystemError saveLastError() { return SystemError{errno}; }

void restoreLastError(SystemError error) { errno = error.code; }

void setLastError(LibraryFailure failure) {
    switch (failure) {
        case LibraryFailure::InvalidArgument:
            errno = EINVAL;
            return;
        case LibraryFailure::TooLong:
            errno = E2BIG;
            return;
    }
}

}  // namespace Drux
