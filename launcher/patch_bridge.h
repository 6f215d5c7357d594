// The bridge to the patch library ("patcher.dll" in the current directory, or
// the host's table): the lazy loader, one operation per entry point, and the
// handlers that answer the AIR client's version requests.
#pragma once

#include <cstdint>

constexpr uint32_t kPatchPathSize = 260;
constexpr uint32_t kPatchTextSize = 16384;

// Loads patch support on first use; 1 when it is available.
int32_t EnsurePatchSupport();

// Each writes its log line, ensures patch support, and returns 0 without it.
int32_t PatchBridge_GameVersionToPath(const char* version, char* path /* kPatchPathSize bytes */);
int32_t PatchBridge_InstallGameVersion(const char* version);
int32_t PatchBridge_CancelInstallGame();
int32_t PatchBridge_GetInstallGameProgress(char* buffer /* kPatchTextSize bytes */);
int32_t PatchBridge_PreviewGameVersion(const char* version);
int32_t PatchBridge_CancelPreviewGame();
int32_t PatchBridge_GetPreviewGameProgress(char* buffer);
int32_t PatchBridge_UninstallGameVersion(const char* version);
int32_t PatchBridge_CancelUninstallGame();
int32_t PatchBridge_GetUninstallGameProgress(char* buffer);
int32_t PatchBridge_PreviewUninstallGameVersion(const char* version);
int32_t PatchBridge_CancelPreviewUninstallGame();
int32_t PatchBridge_GetPreviewUninstallGameProgress(char* buffer);
int32_t PatchBridge_EnumerateInstalledGameVersions(char* buffer);
int32_t PatchBridge_EnumerateUninstallableGameVersions(char* buffer);
int32_t PatchBridge_EnumerateLatestGameVersions(const char* request, char* buffer);
int32_t PatchBridge_InstalledGameVersionSize(char* buffer);

// The AIR connection's version requests: commands (14, 15, 17, 18, 21, 22, 24,
// 25) go to their bridge operation; progress requests (16, 19, 23, 26) and
// queries (27, 35, 36, 37) are answered on the AIR server with the same type.
// Returns 1 when the type is one of these, 0 otherwise (nothing done).
namespace Drux {
int32_t handlePatchRequest(int32_t messageType, const char* payload);
}  // namespace Drux

namespace Drux::testing {
// Forgets the outcome of the first load, so a test can load again. The shipped
// library never does this: the outcome holds for the process's life.
void resetPatchSupport();
}  // namespace Drux::testing
