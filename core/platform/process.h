// Processes by identifier: start, test, wait, terminate, list and name them.
// The library keeps no handles between calls. A started program never stays
// behind as our zombie, and a zombie always counts as ended.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/platform/interrupter.h"

namespace Drux {

using ProcessId = uint32_t;

ProcessId currentProcessId();

// Starts applicationName with the whole command line (its first element names
// the program, as on Windows) in workingDirectory (null: inherit). The new
// process is detached from the caller's terminal input. False when the program
// could not be started (missing, not executable); the last error then says
// why (system_error.h).
bool launchProcess(const char* applicationName, const char* commandLine, const char* workingDirectory,
                   ProcessId* processId);

// Whether a process with this identifier exists, may be signalled by us, and
// has not ended (zombies have ended).
bool processIsRunning(ProcessId processId);
// "Opening" a process: it exists and we may signal it.
bool processCanBeOpened(ProcessId processId);
// Waits up to timeoutMs for the process to end. True when it has ended (or
// cannot be waited on), false on time-out.
bool waitForProcessExit(ProcessId processId, uint32_t timeoutMs);
// The same wait, also ended (false) once `interrupter` is signalled. A process
// that has already ended counts as ended even when the interrupter was
// signalled first.
bool waitForProcessExit(ProcessId processId, uint32_t timeoutMs, const Interrupter& interrupter);
// Terminates the process (SIGKILL). True on success.
bool terminateProcess(ProcessId processId);

// Whose a process is, compared with the user this process runs as: its
// effective user id on POSIX, its token's user SID on Windows.
enum class ProcessUser {
    Same,     // the user this process runs as
    Other,    // another user (or one that we may not even query); detail: who, where known
    Unknown,  // the system could not tell; detail: why
};
struct ProcessUserResult {
    ProcessUser user = ProcessUser::Unknown;
    char detail[120] = {};
};
ProcessUserResult processUser(ProcessId processId);

// Fills ids with up to capacity identifiers of running processes, returns the count.
size_t enumerateProcesses(ProcessId* ids, size_t capacity);
// The file name of the process's executable (its base name). False when it
// cannot be read (other users' processes, kernel threads).
bool processExecutableName(ProcessId processId, char* name, size_t nameSize);

}  // namespace Drux
