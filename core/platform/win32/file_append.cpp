// Appending to a closed file on Windows: CreateFileA with append access only,
// one WriteFile, CloseHandle. Other processes may read, move or delete the file
// meanwhile.
#include "core/platform/file_append.h"

#include "core/platform/win32/windows_headers.h"

#include <new>
#include <string>

namespace Drux {

bool appendToFile(const char* path, const void* data, size_t length) {
    if (path == nullptr) return false;
    // The bytes a text-mode stream would have stored: each "\n" as "\r\n".
    std::string text;
    try {
        const auto* bytes = static_cast<const char*>(data);
        text.reserve(length + length / 8 + 2);
        for (size_t i = 0; i < length; ++i) {
            if (bytes[i] == '\n') text.push_back('\r');
            text.push_back(bytes[i]);
        }
    } catch (const std::bad_alloc&) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    const HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool written = true;
    size_t offset = 0;
    while (offset < text.size()) {
        DWORD done = 0;
        const DWORD chunk = static_cast<DWORD>(text.size() - offset > 0x40000000u ? 0x40000000u : text.size() - offset);
        if (!::WriteFile(file, text.data() + offset, chunk, &done, nullptr) || done == 0) {
            written = false;
            break;
        }
        offset += done;
    }
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    ::SetLastError(error);
    return written;
}

}  // namespace Drux
