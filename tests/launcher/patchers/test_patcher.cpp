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
#include <cstdlib>
#include <cstring>
#include <string>

#define PATCHER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void recordCall(const char* name, const char* argument, int32_t size) {
    FILE* log = std::fopen("patcher-calls.log", "a");
    if (log == nullptr) return;
    if (size >= 0)
        std::fprintf(log, "%s %s %d\n", name, argument != nullptr ? argument : "-", static_cast<int>(size));
    else
        std::fprintf(log, "%s %s -\n", name, argument != nullptr ? argument : "-");
    std::fclose(log);
}

int32_t resultOf(const char* name) {
    FILE* file = std::fopen((std::string("patcher-") + name + ".result").c_str(), "r");
    if (file == nullptr) return 1;
    int value = 1;
    if (std::fscanf(file, "%d", &value) != 1) value = 1;
    std::fclose(file);
    return value;
}

void writeOutput(const char* name, char* buffer, int32_t size) {
    if (buffer == nullptr || size <= 0) return;
    FILE* file = std::fopen((std::string("patcher-") + name + ".txt").c_str(), "rb");
    if (file == nullptr) return;
    size_t length = std::fread(buffer, 1, static_cast<size_t>(size), file);
    if (length < static_cast<size_t>(size)) buffer[length] = '\0';
    std::fclose(file);
}

int32_t command(const char* name, const char* version) {
    recordCall(name, version, -1);
    return resultOf(name);
}

int32_t textQuery(const char* name, const char* request, char* buffer, int32_t size) {
    recordCall(name, request, size);
    writeOutput(name, buffer, size);
    return resultOf(name);
}

}  // namespace

PATCHER_EXPORT int32_t GameVersionToPath(const char* version, char* path, int32_t size) {
    return textQuery("GameVersionToPath", version, path, size);
}
PATCHER_EXPORT int32_t InstallGameVersion(const char* version) { return command("InstallGameVersion", version); }
PATCHER_EXPORT int32_t CancelInstallGame() { return command("CancelInstallGame", nullptr); }
PATCHER_EXPORT int32_t GetInstallGameProgress(char* buffer, int32_t size) {
    return textQuery("GetInstallGameProgress", nullptr, buffer, size);
}
PATCHER_EXPORT int32_t PreviewGameVersion(const char* version) { return command("PreviewGameVersion", version); }
PATCHER_EXPORT int32_t CancelPreviewGame() { return command("CancelPreviewGame", nullptr); }
PATCHER_EXPORT int32_t GetPreviewGameProgress(char* buffer, int32_t size) {
    return textQuery("GetPreviewGameProgress", nullptr, buffer, size);
}
PATCHER_EXPORT int32_t UninstallGameVersion(const char* version) { return command("UninstallGameVersion", version); }
PATCHER_EXPORT int32_t CancelUninstallGame() { return command("CancelUninstallGame", nullptr); }
PATCHER_EXPORT int32_t GetUninstallGameProgress(char* buffer, int32_t size) {
    return textQuery("GetUninstallGameProgress", nullptr, buffer, size);
}
PATCHER_EXPORT int32_t PreviewUninstallGameVersion(const char* version) {
    return command("PreviewUninstallGameVersion", version);
}
PATCHER_EXPORT int32_t CancelPreviewUninstallGame() { return command("CancelPreviewUninstallGame", nullptr); }
PATCHER_EXPORT int32_t GetPreviewUninstallGameProgress(char* buffer, int32_t size) {
    return textQuery("GetPreviewUninstallGameProgress", nullptr, buffer, size);
}
PATCHER_EXPORT int32_t EnumerateInstalledGameVersions(char* buffer, int32_t size) {
    return textQuery("EnumerateInstalledGameVersions", nullptr, buffer, size);
}
PATCHER_EXPORT int32_t EnumerateUninstallableGameVersions(char* buffer, int32_t size) {
    return textQuery("EnumerateUninstallableGameVersions", nullptr, buffer, size);
}
PATCHER_EXPORT int32_t EnumerateLatestGameVersions(const char* request, char* buffer, int32_t size) {
    return textQuery("EnumerateLatestGameVersions", request, buffer, size);
}
#ifndef DRUX_PATCHER_WITHOUT_SIZE
PATCHER_EXPORT int32_t InstalledGameVersionSize(char* buffer, int32_t size) {
    return textQuery("InstalledGameVersionSize", nullptr, buffer, size);
}
#endif
