// Loading a library at run time and finding its entry points.
#pragma once

namespace Drux {

using LibraryHandle = void*;

// Null if the library cannot be loaded.
LibraryHandle loadLibrary(const char* path);
// Null if the library has no such entry point.
void* findSymbol(LibraryHandle library, const char* name);
void freeLibrary(LibraryHandle library);

}  // namespace Drux
