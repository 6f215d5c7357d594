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
/* Terminates every other process whose executable has the type's file name. */
VANTREL_API int32_t VantrelProcessHelper_KillProcess(int32_t processType);
/* Terminates every other process whose executable file name equals path's. Works without Init. */
VANTREL_API int32_t VantrelProcessHelper_KillProcessByName(const char* path);
VANTREL_API int32_t VantrelProcessHelper_AllFilesExist(void);

VANTREL_EXTERN_C_END

#endif /* DRUX_VANTREL_PROCESS_HELPER_H */
