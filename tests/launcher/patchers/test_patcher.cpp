// A patch library for the bridge's tests, driven through files in the current
// directory so that a test decides what each entry point does:
//   patcher-<Name>.txt     copied into the output buffer: at most the buffer's
//                          size, terminated only when it fits (so a file of the
//                          buffer's size or more fills it without a terminator);
//                          without the file the buffer is left as it is;
//   patcher-<Name>.result  the entry point's result (default 1).
// Every call appends "<Name> <argument or -> <size or ->" to patcher-calls.log.
// Built without InstalledGameVersionSize when DRUX_PATCHER_WITHOUT_SIZE is set.
#include <cstdint>
#include <cstdio>
#include <string>

#include "VantrelTypes.h"

namespace {

int32_t call(const char* name, const char* argument, char* buffer = nullptr, int32_t size = -1) {
    if (FILE* log = std::fopen("patcher-calls.log", "a")) {
        std::fprintf(log, "%s %s %s\n", name, argument ? argument : "-",
                     size >= 0 ? std::to_string(size).c_str() : "-");
        std::fclose(log);
    }
    if (buffer != nullptr && size > 0)
        if (FILE* file = std::fopen((std::string("patcher-") + name + ".txt").c_str(), "rb")) {
            const size_t length = std::fread(buffer, 1, static_cast<size_t>(size), file);
            if (length < static_cast<size_t>(size)) buffer[length] = '\0';
            std::fclose(file);
        }
    int result = 1;
    if (FILE* file = std::fopen((std::string("patcher-") + name + ".result").c_str(), "r")) {
        if (std::fscanf(file, "%d", &result) != 1) result = 1;
        std::fclose(file);
    }
    return result;
}

}  // namespace

#define PATCHER_EXPORT extern "C" VANTREL_PATCHER_EXPORT int32_t
#define COMMAND(Name) \
  PATCHER_EXPORT Name(const char* version) { return call(#Name, version); }
#define CANCEL(Name) \
  PATCHER_EXPORT Name() { return call(#Name, nullptr); }
#define TEXT_QUERY(Name) \
  PATCHER_EXPORT Name(char* buffer, int32_t size) { return call(#Name, nullptr, buffer, size); }
#define REQUEST_QUERY(Name) \
  PATCHER_EXPORT Name(const char* request, char* buffer, int32_t size) { return call(#Name, request, buffer, size); }

REQUEST_QUERY(GameVersionToPath)
COMMAND(InstallGameVersion)
CANCEL(CancelInstallGame)
TEXT_QUERY(GetInstallGameProgress)
COMMAND(PreviewGameVersion)
CANCEL(CancelPreviewGame)
TEXT_QUERY(GetPreviewGameProgress)
COMMAND(UninstallGameVersion)
CANCEL(CancelUninstallGame)
TEXT_QUERY(GetUninstallGameProgress)
COMMAND(PreviewUninstallGameVersion)
CANCEL(CancelPreviewUninstallGame)
TEXT_QUERY(GetPreviewUninstallGameProgress)
TEXT_QUERY(EnumerateInstalledGameVersions)
TEXT_QUERY(EnumerateUninstallableGameVersions)
REQUEST_QUERY(EnumerateLatestGameVersions)
#ifndef DRUX_PATCHER_WITHOUT_SIZE
TEXT_QUERY(InstalledGameVersionSize)
#endif
