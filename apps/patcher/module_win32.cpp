// The patch library's own module on Windows: the module that holds this
// code, and DruxLauncher.dll if the process has loaded it.
#include <windows.h>

#include "module.h"

namespace DruxPatcher {
namespace fs = std::filesystem;

const char kGameFileName[] = "drux-game.exe";

namespace {

fs::path moduleFile(HMODULE module) {
    char path[MAX_PATH * 4] = {};
    const DWORD n = ::GetModuleFileNameA(module, path, sizeof path);
    return n > 0 && n < sizeof path ? fs::path(std::string(path, n)) : fs::path();
}

}  // namespace

fs::path libraryDirectory() {
    HMODULE self = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCSTR>(&libraryDirectory), &self))
        return ".";
    const fs::path file = moduleFile(self);
    return file.empty() ? fs::path(".") : file.parent_path();
}

fs::path loadedLibrary() {
    HMODULE library = ::GetModuleHandleA("DruxLauncher.dll");
    return library != nullptr ? moduleFile(library) : fs::path();
}

}  // namespace DruxPatcher
