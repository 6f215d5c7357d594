// The log file of the process: one open-append-close per line; the file is
// closed between lines.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdio>

#include "core/platform/mutex.h"
#include "core/platform/paths.h"
#include "core/platform/printf_format.h"

namespace Drux {

class LogFile {
public:
    // Creates the process's log object for "<current directory>/<fileName>",
    // deleting an existing file of that name. Replaces any earlier object.
    static int Create(const char* fileName);
    // Destroys the log object; later lines are dropped.
    static void Destroy();
    // Appends text as one line; 1 if written, 0 if not (no log, or the file
    // cannot be opened).
    static int Write(const char* text);
    // The path of the open log, or null.
    static const char* Path();

private:
    char path_[kMaxPath] = {};
    // Serialises the writers of this log: one line is appended whole before
    // the next begins, on every system and file system. The innermost lock of
    // the library: nothing is locked while it is held.
    Mutex writer_;
};

}  // namespace Drux

// printf-style entry of the log: formats into 1024 bytes (truncating) and
// writes the result. 0 without formatting when no log is open.
int LogPrintf(const char* format, ...) DRUX_PRINTF_FORMAT(1, 2);
// Logs the system's text for the last error as an INFO line tagged with the
// failing operation's name (may be null). Returns 1.
int LogLastError(const char* operationName);

// The two-step line every layer writes: text (which carries its own "\n") is
// put behind "INFO: %s", "WARNING: %s" or "ERROR: %s" in 1024 bytes and
// written through LogPrintf("%s", ...).
namespace Drux {
void LogInfo(const char* text);
void LogWarning(const char* text);
void LogError(const char* text);
// Formats the inner text into `innerSize` bytes first (the Parts' 320/512/... buffers).
void LogInfoF(size_t innerSize, const char* format, ...) DRUX_PRINTF_FORMAT(2, 3);
void LogWarningF(size_t innerSize, const char* format, ...) DRUX_PRINTF_FORMAT(2, 3);
void LogErrorF(size_t innerSize, const char* format, ...) DRUX_PRINTF_FORMAT(2, 3);
}  // namespace Drux
