// The file system on POSIX: full paths (folded by the shared rules), the
// current directory, our own executable, file
// attributes and deletion.
#include <sys/stat.h>
#include <unistd.h>

#include "core/platform/paths.h"
#include "core/platform/platform.h"

namespace Drux {

bool fullPath(char* output, size_t outputSize, const char* path) { return foldedFullPath(output, outputSize, path); }

bool currentDirectory(char* output, size_t outputSize) {
    if (output == nullptr || outputSize == 0) return false;
    return ::getcwd(output, outputSize) != nullptr;
}

bool hostExecutablePath(char* output, size_t outputSize) {
    if (output == nullptr || outputSize == 0) return false;
    const ssize_t n = ::readlink("/proc/self/exe", output, outputSize);
    if (n <= 0 || static_cast<size_t>(n) >= outputSize) return false;
    output[n] = '\0';
    return true;
}

uint32_t fileAttributes(const char* path) {
    struct stat info {};
    if (path == nullptr || ::stat(path, &info) != 0) return kInvalidFileAttributes;
    constexpr uint32_t kNormalAttribute = 0x80;
    return S_ISDIR(info.st_mode) ? kDirectoryAttribute : kNormalAttribute;
}

bool deleteFile(const char* path) { return path != nullptr && ::unlink(path) == 0; }

}  // namespace Drux
