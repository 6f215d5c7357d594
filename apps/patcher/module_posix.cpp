// The patch library's own module on ELF systems: dladdr and dl_iterate_phdr.
#include <dlfcn.h>
#include <link.h>

#include "module.h"

namespace DruxPatcher {
namespace fs = std::filesystem;

const char kGameFileName[] = "drux-game";

fs::path libraryDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&libraryDirectory), &info) == 0 || info.dli_fname == nullptr) return ".";
    std::error_code ignored;
    return fs::absolute(info.dli_fname, ignored).parent_path();
}

fs::path loadedLibrary() {
    fs::path found;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            if (info->dlpi_name == nullptr) return 0;
            const fs::path name(info->dlpi_name);
            if (name.filename().string().rfind("libDruxLauncher.so", 0) != 0) return 0;
            *static_cast<fs::path*>(data) = name;
            return 1;
        },
        &found);
    return found;
}

}  // namespace DruxPatcher
