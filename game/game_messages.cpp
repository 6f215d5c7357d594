// What the game controller sends to the launcher side and what it does with
// the messages that arrive from there.
#include "game/game_controller.h"

#include "core/platform/clock.h"

namespace {

int32_t sendToLauncher(VantrelGameControllerStruct& controller, int32_t messageType, const char* payload) {
    if (controller.client == nullptr) {
        Drux::LogError("The game controller has no client connection to send on.\n");
        return 0;
    }
    return VantrelMessageAgent_SendMessage(controller.client->agent, messageType, payload);
}

}  // namespace

int32_t CallExitCallback() {
    VantrelGameControllerStruct* controller = CurrentGameController();
    VantrelExitCallback callback = controller != nullptr ? controller->exitCallback.load() : nullptr;
    if (callback != nullptr)
        callback(controller->exitCallbackContext.load());
    else
        Drux::LogWarning("No VantrelGameController \"Exit\" handler provided.");
    return 1;
}

int32_t OnGameClientMessage(void*, int32_t messageType, const char* payload) {
    VantrelGameControllerStruct* controller = CurrentGameController();
    if (controller == nullptr) return 1;
    switch (messageType) {
        case VANTRELMESSAGETYPE_CLOSE:
        case VANTRELMESSAGETYPE_INVALID:
            CallExitCallback();
            break;
        case VANTRELMESSAGETYPE_HEARTBEAT:
            controller->lastHeardSeconds = Drux::tickSeconds();
            break;
        case VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME:
            if (VantrelChatMessageCallback chat = controller->chatCallback.load())
                chat(controller->chatCallbackContext.load(), payload);
            break;
        default:
            break;
    }
    return 1;
}

VANTREL_API int32_t VantrelGameController_SendChatMessage(const char* text) {
    return withGameController("VantrelGameController_SendChatMessage",
                              [&](VantrelGameControllerStruct& controller) -> int32_t {
                                  sendToLauncher(controller, VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME, text);
                                  return 1;
                              });
}

VANTREL_API int32_t VantrelGameController_SendGameConnectedToServerMessage(void) {
    return withGameController("VantrelGameController_SendGameConnectedToServerMessage",
                              [](VantrelGameControllerStruct& controller) {
                                  return sendToLauncher(controller, VANTRELMESSAGETYPE_GAMECLIENT_CONNECTED_TO_SERVER,
                                                        nullptr);
                              });
}

VANTREL_API int32_t VantrelGameController_SendGameLaunchedMessage(void) {
    return withGameController("VantrelGameController_SendGameLaunchedMessage",
                              [](VantrelGameControllerStruct& controller) {
                                  return sendToLauncher(controller, VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, nullptr);
                              });
}

VANTREL_API int32_t VantrelGameController_SendGameVersionMismatchMessage(void) {
    return withGameController("VantrelGameController_SendGameVersionMismatchMessage",
                              [](VantrelGameControllerStruct& controller) {
                                  return sendToLauncher(controller, VANTRELMESSAGETYPE_GAMECLIENT_VERSION_MISMATCH,
                                                        nullptr);
                              });
}

VANTREL_API int32_t VantrelGameController_SendGameAbandonedMessage(void) {
    return withGameController("VantrelGameController_SendGameAbandonedMessage",
                              [](VantrelGameControllerStruct& controller) {
                                  return sendToLauncher(controller, VANTRELMESSAGETYPE_GAMECLIENT_ABANDONED, nullptr);
                              });
}

VANTREL_API int32_t VantrelGameController_SendShutdownMessage(void) {
    return withGameController("VantrelGameController_SendShutdownMessage",
                              [](VantrelGameControllerStruct& controller) {
                                  return sendToLauncher(controller, VANTRELMESSAGETYPE_GAMECLIENT_STOPPED, nullptr);
                              });
}
