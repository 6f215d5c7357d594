/*
 * DruxLauncher: the launcher host's controller. It listens on the launcher, AIR
 * and game ports, starts the AIR client (which asks for the game), relays chat
 * and status between them, forwards version requests to the patch library and
 * supervises both programs. Compiles as C and as C++.
 *
 * Calling order: Vantrel_Init; start the socket layer (WSAStartup on Windows);
 * VantrelServerController_Init; optionally the Set...Callback exports,
 * RegisterHwnd and VerifyAllNeededFilesExist; one of the Start exports;
 * ProcessEvents from the host's loop; on the exit callback, Remove; Vantrel_Remove.
 *
 * Callbacks: the exit and error callbacks run on the host's thread (Init, the
 * Start exports, ProcessEvents) or on a connection's reading thread (message
 * routing, game start), and the host must accept both. From inside a callback a
 * host may log, record what happened, call VantrelServerController_Stop, the
 * Set...Callback exports and GetAirServerHandle, and send with
 * VantrelServer_SendMessageToAllClients. VantrelServerController_Remove, Init
 * and the Start exports are refused there (ERROR line, result 0): Remove and
 * Init would free the controller under the handler that is calling back.
 * Callbacks should return promptly; the connection that runs one waits for it.
 *
 * VantrelServerController_Stop may be called from any thread, also while a
 * Start export blocks the host's thread (a host that watches for Ctrl-C on a
 * thread of its own): the start is then cut short. Its pauses end at once, the
 * AIR client is not started if it was not yet, and the Start export returns 0
 * with the controller stopped; an AIR client already started may be running
 * and is the host's to close or stop.
 *
 * Remove the controller from the host's own thread once the callback has
 * returned. Remove returns promptly also while connections are busy (a game
 * start waiting for the previous game or in its pauses, a stop's grace, the
 * wait for a game to exit): those waits are cut short, the handlers are let go
 * before the servers are deleted, and no callback is made once Remove has
 * begun. A second Init without Remove removes the current controller first.
 */
#ifndef DRUX_VANTREL_SERVER_CONTROLLER_H
#define DRUX_VANTREL_SERVER_CONTROLLER_H

#include "VantrelServer.h"
#include "VantrelTypes.h"

VANTREL_EXTERN_C_BEGIN

/* Receives every reported error: its VantrelErrorType and its text (valid during the call). */
typedef void (*VantrelErrorMessageCallback)(void* context, int32_t errorType, const char* message);

/* The patch library's 17 entry points ("patcher.dll", or a host-supplied table). */
typedef int32_t (*VantrelPatchGameVersionToPathFn)(const char* version, char* path, int32_t pathSize);
typedef int32_t (*VantrelPatchVersionCommandFn)(const char* version);
typedef int32_t (*VantrelPatchCancelFn)(void);
typedef int32_t (*VantrelPatchTextQueryFn)(char* buffer, int32_t bufferSize);
typedef int32_t (*VantrelPatchRequestQueryFn)(const char* request, char* buffer, int32_t bufferSize);

typedef void (*VantrelPatchFunction)(void);

/* The host-supplied patch table: element 0 is unused; elements 1 to 17 are, in order,
 * GameVersionToPath, InstallGameVersion, CancelInstallGame, GetInstallGameProgress,
 * PreviewGameVersion, CancelPreviewGame, GetPreviewGameProgress, UninstallGameVersion,
 * CancelUninstallGame, GetUninstallGameProgress, PreviewUninstallGameVersion,
 * CancelPreviewUninstallGame, GetPreviewUninstallGameProgress,
 * EnumerateInstalledGameVersions, EnumerateUninstallableGameVersions,
 * EnumerateLatestGameVersions, InstalledGameVersionSize, cast to VantrelPatchFunction. */
typedef struct PatchFunctionTable {
    VantrelPatchFunction functions[18];
} PatchFunctionTable;

/* Ends earlier instances of the three programs by executable name (only those that run as the
   caller's user, see VantrelProcessHelper_KillProcessByName) and listens on the launcher port. */
VANTREL_API int32_t VantrelServerController_Init(const char* launcherPath, int32_t launcherPort, const char* airPath,
                                                 int32_t airPort, const char* gamePath, int32_t gamePort,
                                                 void* exitCallbackContext, VantrelExitCallback exitCallback,
                                                 VantrelErrorMessageCallback errorCallback,
                                                 const PatchFunctionTable* patchSupportTable);
VANTREL_API int32_t VantrelServerController_Start(void);
VANTREL_API int32_t VantrelServerController_StartArgs(const char* extraArguments);
VANTREL_API int32_t VantrelServerController_StartArgsExplicit(const char* commandLine);
VANTREL_API int32_t VantrelServerController_Stop(void);
VANTREL_API int32_t VantrelServerController_Remove(void);
VANTREL_API int32_t VantrelServerController_RegisterHwnd(void* windowHandle);
VANTREL_API VantrelServerHandle VantrelServerController_GetAirServerHandle(void);
VANTREL_API int32_t VantrelServerController_SetErrorMessageCallback(void* context,
                                                                    VantrelErrorMessageCallback callback);
VANTREL_API int32_t VantrelServerController_SetExitCallback(void* context, VantrelExitCallback callback);
VANTREL_API int32_t VantrelServerController_VerifyAllNeededFilesExist(void);
/* One poll of the supervision; call it repeatedly from the host's loop. A game that the
 * library started and that a poll finds gone is reported to the AIR client as
 * GAMECLIENT_CRASHED once, also when no poll saw it running, unless it announced its end
 * (STOPPED, ABANDONED) or the AIR client asked for it to be killed. */
VANTREL_API int32_t VantrelServerController_ProcessEvents(void);
VANTREL_API void VantrelServerController_CheckGameTerminationState(void);

VANTREL_EXTERN_C_END

#endif /* DRUX_VANTREL_SERVER_CONTROLLER_H */
