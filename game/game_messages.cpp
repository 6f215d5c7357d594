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

// The exports that tell the launcher side one thing about the game: a message
// of that type without a payload; the send's result is the export's.
int32_t sendNotice(const char* exportName, int32_t messageType) {
    return Drux::withGameController(exportName, [messageType](VantrelGameControllerStruct& controller) {
        return sendToLauncher(controller, messageType, nullptr);
    });
}

}  // namespace

int32_t CallExitCallback() {
    VantrelGameControllerStruct* controller = Drux::currentGameController();
    VantrelExitCallback callback = controller != nullptr ? controller->exitCallback.load() : nullptr;
    if (callback != nullptr)
        callback(controller->exitCallbackContext.load());
    else
        Drux::LogWarning("No VantrelGameController \"Exit\" handler provided.");
    return 1;
}

int32_t OnGameClientMessage(void*, int32_t messageType, const char* payload) {
    VantrelGameControllerStruct* controller = Drux::currentGameController();
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
    return Drux::withGameController(__func__, [&](VantrelGameControllerStruct& controller) -> int32_t {
        sendToLauncher(controller, VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME, text);
        return 1;
    });
}

VANTREL_API int32_t VantrelGameController_SendGameConnectedToServerMessage(void) {
    return sendNotice(__func__, VANTRELMESSAGETYPE_GAMECLIENT_CONNECTED_TO_SERVER);
}

VANTREL_API int32_t VantrelGameController_SendGameLaunchedMessage(void) {
    return sendNotice(__func__, VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED);
}

VANTREL_API int32_t VantrelGameController_SendGameVersionMismatchMessage(void) {
    return sendNotice(__func__, VANTRELMESSAGETYPE_GAMECLIENT_VERSION_MISMATCH);
}

VANTREL_API int32_t VantrelGameController_SendGameAbandonedMessage(void) {
    return sendNotice(__func__, VANTRELMESSAGETYPE_GAMECLIENT_ABANDONED);
}

VANTREL_API int32_t VantrelGameController_SendShutdownMessage(void) {
    return sendNotice(__func__, VANTRELMESSAGETYPE_GAMECLIENT_STOPPED);
}
