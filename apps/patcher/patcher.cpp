// The sample patch library "patcher.dll": the 17 entry points that the
// launcher looks up by name, over the version folders of version_store.h.
//
// Operations run on the caller's thread (the launcher calls from the AIR
// connection's reading thread) and are finished when the call returns; a
// cancel from another thread stops a running install between two chunks.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>

#include "VantrelServerController.h"
#include "operation.h"
#include "version_store.h"

#define PATCHER_API extern "C" VANTREL_PATCHER_EXPORT

namespace {

using namespace DruxPatcher;

Operation g_install("install");
Operation g_preview("install preview");
Operation g_uninstall("uninstall");
Operation g_uninstallPreview("uninstall preview");
// Installs and uninstalls change the folders one at a time.
std::mutex g_folders;

// Copies text into the caller's buffer, cut to fit; 0 when it does not fit whole.
int32_t writeText(const std::string& text, char* buffer, int32_t size) {
    if (buffer == nullptr || size <= 0) return 0;
    const size_t room = static_cast<size_t>(size) - 1;
    const size_t length = text.size() < room ? text.size() : room;
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return text.size() <= room ? 1 : 0;
}

std::string versionText(const char* version) { return version != nullptr ? version : ""; }

}  // namespace

PATCHER_API int32_t GameVersionToPath(const char* version, char* path, int32_t pathSize) {
    const std::filesystem::path game = installedGame(currentSettings(), versionText(version));
    return game.empty() ? 0 : writeText(game.string(), path, pathSize);
}

PATCHER_API int32_t InstallGameVersion(const char* version) {
    return g_install.run(version, [](const std::string& v, std::string* error, std::string* details) {
        std::lock_guard<std::mutex> guard(g_folders);
        const Settings settings = currentSettings();
        const bool ok = installVersion(
            settings, v, g_install.cancelRequested(),
            [](uint64_t done, uint64_t total) { g_install.progress(done, total); }, error);
        *details = ",\"bytes\":" + std::to_string(ok ? installedSize(settings, v) : 0);
        return ok;
    });
}

PATCHER_API int32_t CancelInstallGame(void) { return g_install.cancel() ? 1 : 0; }

PATCHER_API int32_t GetInstallGameProgress(char* buffer, int32_t size) {
    return writeText(g_install.progressText(), buffer, size);
}

PATCHER_API int32_t PreviewGameVersion(const char* version) {
    return g_preview.run(version, [](const std::string& v, std::string* reason, std::string* details) {
        const Settings settings = currentSettings();
        const bool known = validVersion(v) && std::find(settings.available.begin(), settings.available.end(), v) !=
                                                  settings.available.end();
        const bool installed = !installedGame(settings, v).empty();
        *reason = "version " + v + " is not available";
        *details = ",\"installed\":" + std::string(installed ? "true" : "false") +
                   ",\"bytesToInstall\":" + std::to_string(installed || !known ? 0 : installSize(settings));
        return known;
    });
}

PATCHER_API int32_t CancelPreviewGame(void) { return g_preview.cancel() ? 1 : 0; }

PATCHER_API int32_t GetPreviewGameProgress(char* buffer, int32_t size) {
    return writeText(g_preview.progressText(), buffer, size);
}

PATCHER_API int32_t UninstallGameVersion(const char* version) {
    return g_uninstall.run(version, [](const std::string& v, std::string* error, std::string* details) {
        std::lock_guard<std::mutex> guard(g_folders);
        const Settings settings = currentSettings();
        const uint64_t bytes = installedSize(settings, v);
        const bool ok = uninstallVersion(settings, v, error);
        *details = ",\"bytesFreed\":" + std::to_string(ok ? bytes : 0);
        return ok;
    });
}

PATCHER_API int32_t CancelUninstallGame(void) { return g_uninstall.cancel() ? 1 : 0; }

PATCHER_API int32_t GetUninstallGameProgress(char* buffer, int32_t size) {
    return writeText(g_uninstall.progressText(), buffer, size);
}

PATCHER_API int32_t PreviewUninstallGameVersion(const char* version) {
    return g_uninstallPreview.run(version, [](const std::string& v, std::string* reason, std::string* details) {
        const Settings settings = currentSettings();
        const std::vector<std::string> removable = uninstallableVersions(settings);
        const bool ok = std::find(removable.begin(), removable.end(), v) != removable.end();
        *reason = "version " + v + " cannot be uninstalled";
        *details = ",\"bytesFreed\":" + std::to_string(ok ? installedSize(settings, v) : 0);
        return ok;
    });
}

PATCHER_API int32_t CancelPreviewUninstallGame(void) { return g_uninstallPreview.cancel() ? 1 : 0; }

PATCHER_API int32_t GetPreviewUninstallGameProgress(char* buffer, int32_t size) {
    return writeText(g_uninstallPreview.progressText(), buffer, size);
}

PATCHER_API int32_t EnumerateInstalledGameVersions(char* buffer, int32_t size) {
    return writeText(jsonList(installedVersions(currentSettings())), buffer, size);
}

PATCHER_API int32_t EnumerateUninstallableGameVersions(char* buffer, int32_t size) {
    return writeText(jsonList(uninstallableVersions(currentSettings())), buffer, size);
}

PATCHER_API int32_t EnumerateLatestGameVersions(const char* request, char* buffer, int32_t size) {
    return writeText(jsonList(latestVersions(currentSettings(), versionText(request))), buffer, size);
}

PATCHER_API int32_t InstalledGameVersionSize(char* buffer, int32_t size) {
    const Settings settings = currentSettings();
    std::string text = "[";
    bool first = true;
    for (const std::string& v : installedVersions(settings)) {
        text += std::string(first ? "" : ",") + "{\"version\":" + jsonString(v) +
                ",\"bytes\":" + std::to_string(installedSize(settings, v)) + "}";
        first = false;
    }
    return writeText(text + "]", buffer, size);
}

// The entry points have exactly the types that the launcher calls them through.
static_assert(std::is_same_v<decltype(&GameVersionToPath), VantrelPatchGameVersionToPathFn>);
static_assert(std::is_same_v<decltype(&InstallGameVersion), VantrelPatchVersionCommandFn>);
static_assert(std::is_same_v<decltype(&PreviewGameVersion), VantrelPatchVersionCommandFn>);
static_assert(std::is_same_v<decltype(&UninstallGameVersion), VantrelPatchVersionCommandFn>);
static_assert(std::is_same_v<decltype(&PreviewUninstallGameVersion), VantrelPatchVersionCommandFn>);
static_assert(std::is_same_v<decltype(&CancelInstallGame), VantrelPatchCancelFn>);
static_assert(std::is_same_v<decltype(&CancelPreviewGame), VantrelPatchCancelFn>);
static_assert(std::is_same_v<decltype(&CancelUninstallGame), VantrelPatchCancelFn>);
static_assert(std::is_same_v<decltype(&CancelPreviewUninstallGame), VantrelPatchCancelFn>);
static_assert(std::is_same_v<decltype(&GetInstallGameProgress), VantrelPatchTextQueryFn>);
static_assert(std::is_same_v<decltype(&GetPreviewGameProgress), VantrelPatchTextQueryFn>);
static_assert(std::is_same_v<decltype(&GetUninstallGameProgress), VantrelPatchTextQueryFn>);
static_assert(std::is_same_v<decltype(&GetPreviewUninstallGameProgress), VantrelPatchTextQueryFn>);
static_assert(std::is_same_v<decltype(&EnumerateInstalledGameVersions), VantrelPatchTextQueryFn>);
static_assert(std::is_same_v<decltype(&EnumerateUninstallableGameVersions), VantrelPatchTextQueryFn>);
static_assert(std::is_same_v<decltype(&InstalledGameVersionSize), VantrelPatchTextQueryFn>);
static_assert(std::is_same_v<decltype(&EnumerateLatestGameVersions), VantrelPatchRequestQueryFn>);
