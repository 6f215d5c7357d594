// The log file of the process. Each line is one open, one write and one close
// of the file, so the file is closed between lines, and writers take the log's
// lock around it: not every system and file system appends a write whole, so
// the lock is what keeps lines from interleaving or going missing. While no
// log is open a line costs one atomic load: nothing is formatted.
#include "core/log.h"

#include <atomic>
#include <cstdarg>
#include <cstring>

#include "core/platform/bounded_string.h"
#include "core/platform/file_append.h"
#include "core/platform/state_lock.h"
#include "core/platform/system_error.h"

namespace Drux {
namespace {

constexpr size_t kLineSize = 1024;
constexpr size_t kLastErrorSize = 512;

// The process-wide log object. Writers take their own reference, so a line
// being written keeps the object alive even if the log is replaced meanwhile.
StateLock& logPointerMutex() {
    static StateLock m;
    return m;
}
boost::shared_ptr<LogFile>& logPointer() {
    static boost::shared_ptr<LogFile> log;
    return log;
}

// Whether a log object exists: read first by every writer, so that a process
// without a log pays nothing for the lines it would write.
std::atomic<bool> g_logOpen{false};

boost::shared_ptr<LogFile> currentLog() {
    if (!g_logOpen.load(std::memory_order_acquire)) return boost::shared_ptr<LogFile>();
    std::lock_guard<StateLock> guard(logPointerMutex());
    return logPointer();
}

void replaceLog(boost::shared_ptr<LogFile> log) {
    {
        std::lock_guard<StateLock> guard(logPointerMutex());
        g_logOpen.store(log != nullptr, std::memory_order_release);
        logPointer().swap(log);
    }
    // The previous object (now in `log`) is released here, outside the lock.
}

}  // namespace

int LogFile::Create(const char* fileName) {
    boost::shared_ptr<LogFile> log(new LogFile);

    char directory[kMaxPath] = {};
    if (!currentDirectory(directory, sizeof directory)) std_strncpy(directory, sizeof directory, ".");
    char path[kMaxPath] = {};
    joinPath(path, sizeof path, directory, fileName);  // a cut path is still the best there is

    // Every run starts an empty log: the file of the previous run is deleted.
    if (FILE* old = std::fopen(path, "r")) {
        std::fclose(old);
        deleteFile(path);
    }
    std_strncpy(log->path_, sizeof log->path_, path);
    replaceLog(log);
    return 1;
}

void LogFile::Destroy() { replaceLog(boost::shared_ptr<LogFile>()); }

int LogFile::Write(const char* text) {
    boost::shared_ptr<LogFile> log = currentLog();
    if (!log || text == nullptr) return 0;
    const size_t length = std::strlen(text);
    std::lock_guard<Mutex> lock(log->writer_);
    return appendToFile(log->path_, text, length) ? 1 : 0;
}

const char* LogFile::Path() {
    boost::shared_ptr<LogFile> log = currentLog();
    return log ? log->path_ : nullptr;
}

namespace {

// A whole line is at most 1023 characters, so formatting it once more with
// "%s" into 1024 bytes would copy it unchanged: it goes to the file directly.
int logLine(const char* line) { return LogFile::Write(line); }

bool logOpen() { return g_logOpen.load(std::memory_order_acquire); }

// Writes the level's prefix and then the text behind it straight into the
// line: the same bytes as formatting "INFO: %s" with the text, without a
// second pass over it.
size_t putPrefix(char* line, const char* prefix) {
    const size_t length = std::strlen(prefix);
    std::memcpy(line, prefix, length);
    line[length] = '\0';
    return length;
}

void logLevel(const char* prefix, const char* text) {
    if (!logOpen()) return;
    char line[kLineSize];
    const size_t used = putPrefix(line, prefix);
    std_strncpy(line + used, sizeof line - used, text != nullptr ? text : "");
    logLine(line);
}

void logLevelV(const char* prefix, size_t innerSize, const char* format, va_list arguments) {
    if (!logOpen()) return;
    char line[kLineSize];
    const size_t used = putPrefix(line, prefix);
    // The text alone is cut to innerSize - 1 characters and the whole line to
    // 1023: formatting behind the prefix into the smaller room cuts both.
    const size_t room = sizeof line - used;
    if (innerSize > 0) boundedVprintf(line + used, innerSize < room ? innerSize : room, format, arguments);
    logLine(line);
}

}  // namespace

void LogInfo(const char* text) { logLevel("INFO: ", text); }
void LogWarning(const char* text) { logLevel("WARNING: ", text); }
void LogError(const char* text) { logLevel("ERROR: ", text); }

void LogInfoF(size_t innerSize, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    logLevelV("INFO: ", innerSize, format, arguments);
    va_end(arguments);
}

void LogWarningF(size_t innerSize, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    logLevelV("WARNING: ", innerSize, format, arguments);
    va_end(arguments);
}

void LogErrorF(size_t innerSize, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    logLevelV("ERROR: ", innerSize, format, arguments);
    va_end(arguments);
}

}  // namespace Drux

int LogPrintf(const char* format, ...) {
    if (!Drux::logOpen()) return 0;
    char line[Drux::kLineSize];
    va_list arguments;
    va_start(arguments, format);
    Drux::boundedVprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    return Drux::LogFile::Write(line);
}

int LogLastError(const char* operationName) {
    // Read the error first: nothing may touch errno before it is taken.
    const std::string message = Drux::lastErrorText();
    if (message.empty()) return 1;
    if (operationName != nullptr) {
        char inner[Drux::kLastErrorSize];
        Drux::boundedPrintf(inner, sizeof inner, "[%s] %s", operationName, message.c_str());
        Drux::LogInfo(inner);
    } else {
        Drux::LogInfo(message.c_str());
    }
    return 1;
}
