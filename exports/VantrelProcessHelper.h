/*
 * DruxLauncher: the launcher side's record of the three programs: their paths,
 * starting, testing, stopping and killing them. Compiles as C and as C++.
 */
#ifndef DRUX_VANTREL_PROCESS_HELPER_H
#define DRUX_VANTREL_PROCESS_HELPER_H

#include "VantrelTypes.h"

VANTREL_EXTERN_C_BEGIN

VANTREL_API int32_t VantrelProcessHelper_Init(const char* launcherPath, const char* airPath, const char* gamePath);
VANTREL_API int32_t VantrelProcessHelper_Remove(void);
/* Points *path at a copy of the recorded path, kept per calling thread and type:
   valid until the same thread asks for the same type again. */
VANTREL_API int32_t VantrelProcessHelper_GetProcessPathForProcessType(int32_t processType, const char** path);
/* Starts the program of that type with the argument text; blocks about ten seconds. */
VANTREL_API int32_t VantrelProcessHelper_StartProcess(int32_t processType, const char* arguments);
VANTREL_API int32_t VantrelProcessHelper_IsProcessRunning(int32_t processType, uint32_t* running);
/* Waits up to timeoutMs for the program to end, then terminates it. */
VANTREL_API int32_t VantrelProcessHelper_StopProcess(int32_t processType, uint32_t timeoutMs);
/* Terminates every other process of this user whose executable has the type's file name. */
VANTREL_API int32_t VantrelProcessHelper_KillProcess(int32_t processType);
/* Terminates every other process of this user whose executable file name equals path's. Works
   without Init. Only processes of the user the caller runs as are considered (Linux: the
   process's effective user id; Windows: its token's user SID), never machine-wide: a program of
   the same name that another user runs is left alone, even when the caller is root or
   elevated. A process whose user cannot be told is taken as the caller's, with a warning in the
   log. The start-up kills of VantrelServerController_Init and the waits for a program to end
   by name follow the same rule. */
VANTREL_API int32_t VantrelProcessHelper_KillProcessByName(const char* path);
VANTREL_API int32_t VantrelProcessHelper_AllFilesExist(void);

VANTREL_EXTERN_C_END

#endif /* DRUX_VANTREL_PROCESS_HELPER_H */
