/*
 * DruxLauncher: the game process's side. Compiles as C and as C++.
 *
 * Calling order: Vantrel_Init; VantrelGameController_Init; the Set...Callback
 * exports; VantrelGameController_Start with the launcher's game port; the Send...
 * exports as the game progresses and AreProcessesHung from the game's loop;
 * VantrelGameController_Remove; Vantrel_Remove.
 *
 * The exit and chat callbacks run on the connection's reading thread. They may
 * call the Send... exports, but never VantrelGameController_Remove.
 */
#ifndef DRUX_VANTREL_GAME_CONTROLLER_H
#define DRUX_VANTREL_GAME_CONTROLLER_H

#include "VantrelTypes.h"

VANTREL_EXTERN_C_BEGIN

/* Receives a chat line (NULL when the message had no text), valid only during the call. */
typedef void (*VantrelChatMessageCallback)(void* context, const char* text);

VANTREL_API int32_t VantrelGameController_Init(const char* firstProcessName, const char* secondProcessName);
VANTREL_API int32_t VantrelGameController_Start(int32_t port);
VANTREL_API int32_t VantrelGameController_Remove(void);
VANTREL_API int32_t VantrelGameController_SetExitCallback(void* context, VantrelExitCallback callback);
VANTREL_API int32_t VantrelGameController_SetReceiveChatMessageCallback(void* context,
                                                                        VantrelChatMessageCallback callback);
VANTREL_API int32_t VantrelGameController_SetHeartbeatActive(int32_t active);
VANTREL_API int32_t VantrelGameController_GetHeartbeatActive(int32_t* active);
VANTREL_API int32_t VantrelGameController_SendChatMessage(const char* text);
VANTREL_API int32_t VantrelGameController_SendGameConnectedToServerMessage(void);
VANTREL_API int32_t VantrelGameController_SendGameLaunchedMessage(void);
VANTREL_API int32_t VantrelGameController_SendGameVersionMismatchMessage(void);
VANTREL_API int32_t VantrelGameController_SendGameAbandonedMessage(void);
VANTREL_API int32_t VantrelGameController_SendShutdownMessage(void);
VANTREL_API int32_t VantrelGameController_KillProcesses(void);
/* *hung becomes 1 when the launcher side has been silent for 150 seconds or more. */
VANTREL_API int32_t VantrelGameController_AreProcessesHung(int32_t* hung);

VANTREL_EXTERN_C_END

#endif /* DRUX_VANTREL_GAME_CONTROLLER_H */
