// Whether the programs' files are where their paths say, and the directory
// helpers the launch uses to find a program's working directory.
#include "process/file_checks.h"

#include <cstring>

#include "VantrelProcessHelper.h"
#include "core/export_guard.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "core/platform/paths.h"
#include "process/process_helper.h"

namespace {

constexpr size_t kDriveSize = 3;
constexpr size_t kPartSize = 256;

int32_t reportMissing(const char* path) {
    Drux::LogErrorF(320, "The file [%s] does not exist.", path);
    return 0;
}

}  // namespace

int32_t FileExists(const char* path) {
    if (path == nullptr) {
        Drux::LogError("FileExists was given no path.\n");
        return 0;
    }
    // Nothing longer than a full path can name a file.
    if (Drux::std_strnlen(path, Drux::kMaxPath) >= Drux::kMaxPath) return reportMissing(path);

    char drive[kDriveSize] = {};
    char directory[kPartSize] = {};
    const bool split = Drux::splitPath(path, drive, sizeof drive, directory, sizeof directory, nullptr, 0, nullptr, 0);
    char fullPath[Drux::kMaxPath];
    if (split && drive[0] == '\0' && directory[0] == '\0') {
        // A bare file name lies beside the host executable.
        char hostDirectory[kPartSize];
        if (!GetHostExecutableDirectory(hostDirectory, sizeof hostDirectory)) return reportMissing(path);
        Drux::boundedPrintf(fullPath, sizeof fullPath, "%s%s", hostDirectory, path);
    } else {
        Drux::std_strncpy(fullPath, sizeof fullPath, path);
    }

    const uint32_t attributes = Drux::fileAttributes(fullPath);
    if (attributes != Drux::kInvalidFileAttributes && Drux::isNotDirectory(attributes)) return 1;
    return reportMissing(path);
}

bool GetHostExecutableDirectory(char* output, size_t outputSize) {
    if (output == nullptr || outputSize == 0) return false;
    // A longer path is cut to the buffer, as the system call would cut it.
    char whole[4096];
    if (!Drux::hostExecutablePath(whole, sizeof whole)) return false;
    char executable[kPartSize];
    Drux::std_strncpy(executable, sizeof executable, whole);
    char drive[kDriveSize];
    char directory[kPartSize];
    if (!Drux::splitPath(executable, drive, sizeof drive, directory, sizeof directory, nullptr, 0, nullptr, 0))
        return false;
    Drux::boundedPrintf(output, outputSize, "%s%s", drive, directory);
    return true;
}

bool GetContainingDirectory(const char* path, char* output) {
    if (path == nullptr || output == nullptr) return false;
    char drive[kDriveSize];
    char directory[kPartSize];
    char fileName[kPartSize];
    char extension[kPartSize];
    if (!Drux::splitPath(path, drive, sizeof drive, directory, sizeof directory, fileName, sizeof fileName, extension,
                         sizeof extension))
        return false;

    const size_t length = std::strlen(directory);
    if (fileName[0] == '\0' && extension[0] == '\0' && length > 0) {
        // The path names a directory: its parent holds it.
        const char dropped = directory[length - 1];
        directory[length - 1] = '\0';
        long cut = FindLastSubstring(directory, "/");
        if (cut < 0) cut = FindLastSubstring(directory, "\\");
        if (cut >= 0)
            directory[cut + 1] = '\0';
        else
            directory[length - 1] = dropped;
    }
    Drux::boundedPrintf(output, kPartSize, "%s%s", drive, directory);
    return true;
}

long FindLastSubstring(const char* text, const char* searched) {
    if (text == nullptr || searched == nullptr) return -1;
    const size_t textLength = std::strlen(text);
    const size_t searchedLength = std::strlen(searched);
    if (searchedLength > textLength) return -1;
    for (size_t start = textLength - searchedLength + 1; start-- > 0;)
        if (std::strncmp(text + start, searched, searchedLength) == 0) return static_cast<long>(start);
    return -1;
}

VANTREL_API int32_t VantrelProcessHelper_AllFilesExist(void) {
    return Drux::withProcessHelper(__func__, [](VantrelProcessHelperState& state) -> int32_t {
        const int32_t launcher = FileExists(state.path(VANTRELPROCESSTYPE_LAUNCHER).text);
        const int32_t air = FileExists(state.path(VANTRELPROCESSTYPE_AIR).text);
        const int32_t game = FileExists(state.path(VANTRELPROCESSTYPE_GAME).text);
        return launcher && air && game ? 1 : 0;
    });
}
