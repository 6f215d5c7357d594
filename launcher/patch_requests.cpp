// The AIR connection's version requests: commands go straight to their bridge
// operation; progress requests and queries are answered to every AIR client
// with a message of the type that asked.
#include <cstdint>

#include "VantrelServer.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "launcher/patch_bridge.h"
#include "launcher/server_controller.h"

namespace {

using TextOperation = int32_t (*)(char* buffer);

void sendToAirClients(int32_t messageType, const char* text) {
    const VantrelServerControllerStruct* controller = CurrentController();
    if (controller == nullptr || controller->airServer == nullptr) return;
    VantrelServer_SendMessageToAllClients(controller->airServer, messageType, text);
}

// Sends whatever the entry point left in the buffer; an empty text when patch
// support is unavailable.
void answerProgress(int32_t messageType, TextOperation operation) {
    char buffer[kPatchTextSize] = {};
    operation(buffer);
    buffer[kPatchTextSize - 1] = '\0';
    sendToAirClients(messageType, buffer);
}

// Sends the entry point's text, or "[]" when it failed or patch support is
// unavailable. request is used by the latest-versions query only.
using QueryOperation = int32_t (*)(const char* request, char* buffer);

void answerQuery(int32_t messageType, QueryOperation operation, const char* request) {
    char buffer[kPatchTextSize] = {};
    if (operation(request, buffer) == 0) Drux::std_strncpy(buffer, kPatchTextSize, "[]");
    buffer[kPatchTextSize - 1] = '\0';
    sendToAirClients(messageType, buffer);
}

int32_t enumerateInstalled(const char*, char* buffer) { return PatchBridge_EnumerateInstalledGameVersions(buffer); }
int32_t enumerateUninstallable(const char*, char* buffer) {
    return PatchBridge_EnumerateUninstallableGameVersions(buffer);
}
int32_t installedSize(const char*, char* buffer) { return PatchBridge_InstalledGameVersionSize(buffer); }

}  // namespace

int32_t HandlePatchRequest(int32_t messageType, const char* payload) {
    switch (messageType) {
    case VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_VERSION:
        PatchBridge_InstallGameVersion(payload);
        return 1;
    case VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_INSTALL:
        PatchBridge_CancelInstallGame();
        return 1;
    case VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_PREVIEW:
        PatchBridge_PreviewGameVersion(payload);
        return 1;
    case VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_PREVIEW:
        PatchBridge_CancelPreviewGame();
        return 1;
    case VANTRELMESSAGETYPE_GAMECLIENT_UNINSTALL_VERSION:
        PatchBridge_UninstallGameVersion(payload);
        return 1;
    case VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_UNINSTALL:
        PatchBridge_CancelUninstallGame();
        return 1;
    case VANTRELMESSAGETYPE_GAMECLIENT_UNINSTALL_PREVIEW:
        PatchBridge_PreviewUninstallGameVersion(payload);
        return 1;
    case VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_UNINSTALL_PREVIEW:
        PatchBridge_CancelPreviewUninstallGame();
        return 1;

    case VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_PROGRESS:
        answerProgress(messageType, PatchBridge_GetInstallGameProgress);
        return 1;
    case VANTRELMESSAGETYPE_GAMECLIENT_PREVIEW_PROGRESS:
        answerProgress(messageType, PatchBridge_GetPreviewGameProgress);
        return 1;
    case VANTRELMESSAGETYPE_GAMECLIENT_UNINSTALL_PROGRESS:
        answerProgress(messageType, PatchBridge_GetUninstallGameProgress);
        return 1;
    case VANTRELMESSAGETYPE_GAMECLIENT_PREVIEW_UNINSTALL_PROGRESS:
        answerProgress(messageType, PatchBridge_GetPreviewUninstallGameProgress);
        return 1;

    case VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_LATEST_VERSIONS:
        if (payload == nullptr) {
            Drux::LogError("No arguments for EnumerateLatestGameVersions\n");
            return 1;
        }
        answerQuery(messageType, PatchBridge_EnumerateLatestGameVersions, payload);
        return 1;
    case VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS:
        answerQuery(messageType, enumerateInstalled, nullptr);
        return 1;
    case VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_UNINSTALLABLE_VERSIONS:
        answerQuery(messageType, enumerateUninstallable, nullptr);
        return 1;
    case VANTRELMESSAGETYPE_GAMECLIENT_INSTALLED_GAME_VERSION_SIZE:
        answerQuery(messageType, installedSize, nullptr);
        return 1;

    default:
        return 0;
    }
}
