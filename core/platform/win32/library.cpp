// Loading a library at run time on Windows: LoadLibraryA and GetProcAddress.
#include "core/platform/library.h"

#include <cstring>

#include "core/platform/win32/windows_headers.h"

namespace Drux {

LibraryHandle loadLibrary(const char* path) {
    if (path == nullptr) return nullptr;
    return ::LoadLibraryA(path);
}

void* findSymbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    const FARPROC entry = ::GetProcAddress(static_cast<HMODULE>(library), name);
    // The caller casts back to the entry point's own type.
    void* result = nullptr;
    static_assert(sizeof result == sizeof entry);
    std::memcpy(&result, &entry, sizeof result);
    return result;
}

void freeLibrary(LibraryHandle library) {
    if (library != nullptr) ::FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace Drux
