// Paths on Windows: full paths as the system resolves them, the current
// directory, the module file name, file attributes and deletion. Splitting and
// joining are shared.
#include "core/platform/paths.h"

#include "core/platform/win32/windows_headers.h"

namespace Drux {

bool fullPath(char* output, size_t outputSize, const char* path) {
    if (output == nullptr || outputSize == 0 || path == nullptr) return false;
    // The length needed (terminator included) when the buffer is too small,
    // else the length written: a result that fits is shorter than the buffer.
    const DWORD length = ::GetFullPathNameA(path, static_cast<DWORD>(outputSize), output, nullptr);
    return length > 0 && length < outputSize;
}

bool currentDirectory(char* output, size_t outputSize) {
    if (output == nullptr || outputSize == 0) return false;
    const DWORD length = ::GetCurrentDirectoryA(static_cast<DWORD>(outputSize), output);
    return length > 0 && length < outputSize;
}

bool hostExecutablePath(char* output, size_t outputSize) {
    if (output == nullptr || outputSize == 0) return false;
    const DWORD length = ::GetModuleFileNameA(nullptr, output, static_cast<DWORD>(outputSize));
    // A path that did not fit comes back cut, with the length equal to the size.
    return length > 0 && length < outputSize;
}

uint32_t fileAttributes(const char* path) {
    if (path == nullptr) return kInvalidFileAttributes;
    return static_cast<uint32_t>(::GetFileAttributesA(path));
}

bool deleteFile(const char* path) { return path != nullptr && ::DeleteFileA(path) != FALSE; }

}  // namespace Drux
