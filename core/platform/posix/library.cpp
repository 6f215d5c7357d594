// Loading a library at run time on POSIX: dlopen and dlsym.
#include "core/platform/library.h"

#include <dlfcn.h>

namespace Drux {

LibraryHandle loadLibrary(const char* path) {
    if (path == nullptr) return nullptr;
    return ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* findSymbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return ::dlsym(library, name);
}

void freeLibrary(LibraryHandle library) {
    if (library != nullptr) ::dlclose(library);
}

}  // namespace Drux
