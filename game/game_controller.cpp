// The game controller's lifetime, its settings, the hung test and the kill of
// the named programs.
#include "game/game_controller.h"

#include "VantrelProcessHelper.h"
#include "core/figures.h"
#include "core/platform/bounded_string.h"
#include "core/platform/clock.h"

namespace {

std::atomic<VantrelGameControllerStruct*> g_controller{nullptr};

void copyProcessName(char* field, size_t fieldSize, const char* name, const char* which) {
    if (name == nullptr) {
        Drux::LogWarningF(
            320, "VantrelGameController_Init was given no %s process name; none is killed in its place.\n", which);
        return;
    }
    Drux::std_strncpy(field, fieldSize, name);
}

// Deletes the controller's client (callbacks that run meanwhile still find
// the record), then forgets and frees the record.
void removeController(VantrelGameControllerStruct* controller) {
    if (controller->client != nullptr) VantrelClient_Delete(&controller->client);
    g_controller.store(nullptr);
    delete controller;
}

// withGameController for the exports that answer through a pointer: without a
// place for the answer, logs "<export> needs a place for its answer." and
// returns 0.
template <typename Body>
int32_t answerWithGameController(const char* exportName, int32_t* answer, Body&& body) {
    return Drux::withGameController(exportName, [&](VantrelGameControllerStruct& controller) -> int32_t {
        if (answer == nullptr) {
            Drux::LogErrorF(320, "%s needs a place for its answer.\n", exportName);
            return 0;
        }
        return body(controller, *answer);
    });
}

}  // namespace

VantrelGameControllerStruct* Drux::currentGameController() { return g_controller.load(); }

VANTREL_API int32_t VantrelGameController_Init(const char* firstProcessName, const char* secondProcessName) {
    return Drux::guardExport(__func__, 0, [&]() -> int32_t {
        if (VantrelGameControllerStruct* previous = g_controller.load()) {
            Drux::LogWarning(
                "VantrelGameController_Init replaces the controller that exists; that one is removed first.\n");
            removeController(previous);
        }
        auto* controller = new VantrelGameControllerStruct();
        g_controller.store(controller);
        copyProcessName(controller->firstProcessName, sizeof controller->firstProcessName, firstProcessName, "first");
        copyProcessName(controller->secondProcessName, sizeof controller->secondProcessName, secondProcessName,
                        "second");
        VantrelClient_Create(&controller->client);
        if (controller->client != nullptr)
            VantrelMessageAgent_SetMessageArrivedCallback(controller->client->agent, nullptr, OnGameClientMessage);
        return 1;
    });
}

VANTREL_API int32_t VantrelGameController_Start(int32_t port) {
    return Drux::withGameController(__func__, [&](VantrelGameControllerStruct& controller) -> int32_t {
        controller.lastHeardSeconds = Drux::tickSeconds();
        if (controller.client == nullptr) {
            Drux::LogError("VantrelGameController_Start: the controller has no client connection.\n");
            return 0;
        }
        return VantrelClient_Start(controller.client, port);
    });
}

VANTREL_API int32_t VantrelGameController_Remove(void) {
    return Drux::withGameController(__func__, [](VantrelGameControllerStruct& controller) -> int32_t {
        removeController(&controller);
        return 1;
    });
}

VANTREL_API int32_t VantrelGameController_SetExitCallback(void* context, VantrelExitCallback callback) {
    return Drux::withGameController(__func__, [&](VantrelGameControllerStruct& controller) -> int32_t {
        controller.exitCallbackContext = context;
        controller.exitCallback = callback;
        return 1;
    });
}

VANTREL_API int32_t VantrelGameController_SetReceiveChatMessageCallback(void* context,
                                                                        VantrelChatMessageCallback callback) {
    return Drux::withGameController(__func__, [&](VantrelGameControllerStruct& controller) -> int32_t {
        controller.chatCallbackContext = context;
        controller.chatCallback = callback;
        return 1;
    });
}

VANTREL_API int32_t VantrelGameController_SetHeartbeatActive(int32_t active) {
    return Drux::withGameController(__func__, [&](VantrelGameControllerStruct& controller) -> int32_t {
        if (controller.client == nullptr) return 1;
        VantrelMessageAgent_SetHeartbeatActive(controller.client->agent, active);
        return 1;
    });
}

VANTREL_API int32_t VantrelGameController_GetHeartbeatActive(int32_t* active) {
    return answerWithGameController(__func__, active,
                                    [](VantrelGameControllerStruct& controller, int32_t& answer) -> int32_t {
                                        answer = 0;
                                        if (controller.client != nullptr)
                                            VantrelMessageAgent_GetHeartbeatActive(controller.client->agent, &answer);
                                        return 1;
                                    });
}

VANTREL_API int32_t VantrelGameController_KillProcesses(void) {
    return Drux::withGameController(__func__, [](VantrelGameControllerStruct& controller) -> int32_t {
        VantrelProcessHelper_KillProcessByName(controller.secondProcessName);
        VantrelProcessHelper_KillProcessByName(controller.firstProcessName);
        VantrelProcessHelper_KillProcessByName("volp_agent.exe");
        VantrelProcessHelper_KillProcessByName("ZemDiff.exe");
        VantrelProcessHelper_KillProcessByName("ZemPatch.exe");
        return 1;
    });
}

VANTREL_API int32_t VantrelGameController_AreProcessesHung(int32_t* hung) {
    return answerWithGameController(
        __func__, hung, [](VantrelGameControllerStruct& controller, int32_t& answer) -> int32_t {
            const int32_t silent = static_cast<int32_t>(Drux::tickSeconds() - controller.lastHeardSeconds.load());
            const int32_t limit = static_cast<int32_t>(Drux::figures().silenceLimitSeconds.load());
            answer = silent >= limit ? 1 : 0;
            return 1;
        });
}
