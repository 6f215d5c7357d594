// The system's text for the last error on Windows: FormatMessageA, whose text
// ends in a line end of its own. Socket errors are thread errors too
// (WSAGetLastError reads the same value), so one pair serves both.
#include "core/platform/system_error.h"

#include "core/platform/win32/windows_headers.h"

namespace Drux {

int lastErrorCode() { return static_cast<int>(::GetLastError()); }

std::string lastErrorText() {
    const DWORD code = ::GetLastError();
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length > 0 && text != nullptr ? std::string(text, length) : std::string();
    if (text != nullptr) ::LocalFree(text);
    ::SetLastError(code);
    return result;
}

SystemError saveLastError() { return SystemError{static_cast<int>(::GetLastError())}; }

void restoreLastError(SystemError error) { ::SetLastError(static_cast<DWORD>(error.code)); }

void setLastError(LibraryFailure failure) {
    switch (failure) {
        case LibraryFailure::InvalidArgument:
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return;
        case LibraryFailure::TooLong:
            ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return;
    }
}

}  // namespace Drux
