// Where the patch library lives and which launcher library its process has
// loaded: one implementation per system (module_posix.cpp, module_win32.cpp).
#pragma once

#include <filesystem>

namespace DruxPatcher {

// The folder that holds this library.
std::filesystem::path libraryDirectory();
// The launcher library that this process has loaded, or empty.
std::filesystem::path loadedLibrary();
// The file name of the game program that a version folder holds.
extern const char kGameFileName[];

}  // namespace DruxPatcher
