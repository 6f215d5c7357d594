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

void sendToAirClients(int32_t messageType, const char* text) {
    const VantrelServerControllerStruct* controller = Drux::currentController();
    if (controller == nullptr || controller->airServer == nullptr) return;
    VantrelServer_SendMessageToAllClients(controller->airServer, messageType, text);
}

// Runs the operation on a fresh buffer and sends the text to every AIR client.
// When the operation fails, failureText is sent in its place; without one,
// whatever the entry point left (an empty text when patch support is
// unavailable).
template <typename Operation>
void answer(int32_t messageType, Operation operation, const char* failureText) {
    char buffer[kPatchTextSize] = {};
    if (operation(buffer) == 0 && failureText != nullptr) Drux::std_strncpy(buffer, kPatchTextSize, failureText);
    buffer[kPatchTextSize - 1] = '\0';
    sendToAirClients(messageType, buffer);
}

// A query that failed, or found no patch support, answers an empty list.
constexpr char kNoVersions[] = "[]";

}  // namespace

int32_t Drux::handlePatchRequest(int32_t messageType, const char* payload) {
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
            answer(messageType, PatchBridge_GetInstallGameProgress, nullptr);
            return 1;
        case VANTRELMESSAGETYPE_GAMECLIENT_PREVIEW_PROGRESS:
            answer(messageType, PatchBridge_GetPreviewGameProgress, nullptr);
            return 1;
        case VANTRELMESSAGETYPE_GAMECLIENT_UNINSTALL_PROGRESS:
            answer(messageType, PatchBridge_GetUninstallGameProgress, nullptr);
            return 1;
        case VANTRELMESSAGETYPE_GAMECLIENT_PREVIEW_UNINSTALL_PROGRESS:
            answer(messageType, PatchBridge_GetPreviewUninstallGameProgress, nullptr);
            return 1;

        case VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_LATEST_VERSIONS:
            if (payload == nullptr) {
                Drux::LogError("No arguments for EnumerateLatestGameVersions\n");
                return 1;
            }
            answer(
                messageType, [=](char* buffer) { return PatchBridge_EnumerateLatestGameVersions(payload, buffer); },
                kNoVersions);
            return 1;
        case VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS:
            answer(messageType, PatchBridge_EnumerateInstalledGameVersions, kNoVersions);
            return 1;
        case VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_UNINSTALLABLE_VERSIONS:
            answer(messageType, PatchBridge_EnumerateUninstallableGameVersions, kNoVersions);
            return 1;
        case VANTRELMESSAGETYPE_GAMECLIENT_INSTALLED_GAME_VERSION_SIZE:
            answer(messageType, PatchBridge_InstalledGameVersionSize, kNoVersions);
            return 1;

        default:
            return 0;
    }
}
