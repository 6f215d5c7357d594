// The log file of the process. Each line is one open, one write and one close
// of the file under the log's lock, so the file is closed between lines and
// whole lines never interleave.
#include "core/log.h"

#include <cstdarg>
#include <cstring>

#include "core/platform/bounded_string.h"
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

boost::shared_ptr<LogFile> currentLog() {
    std::lock_guard<StateLock> guard(logPointerMutex());
    return logPointer();
}

void replaceLog(boost::shared_ptr<LogFile> log) {
    {
        std::lock_guard<StateLock> guard(logPointerMutex());
        logPointer().swap(log);
    }
    // The previous object (now in `log`) is released here, outside the lock.
}

}  // namespace

int LogFile::Create(const char* fileName) {
    boost::shared_ptr<LogFile> log(new LogFile);
    log->lock_ = createMutex();

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
    boost::shared_ptr<Mutex> lock = log->lock_;
    ScopedLock scoped(lock);
    log->file_ = std::fopen(log->path_, "at");
    if (log->file_ == nullptr) return 0;
    const size_t length = std::strlen(text);
    if (length > 0) std::fwrite(text, length, 1, log->file_);
    std::fclose(log->file_);
    log->file_ = nullptr;
    return 1;
}

const char* LogFile::Path() {
    boost::shared_ptr<LogFile> log = currentLog();
    return log ? log->path_ : nullptr;
}

namespace {

int logLine(const char* line) { return LogPrintf("%s", line); }

void logLevel(const char* prefixFormat, const char* text) {
    char line[kLineSize];
    boundedPrintf(line, sizeof line, prefixFormat, text != nullptr ? text : "");
    logLine(line);
}

void logLevelV(const char* prefixFormat, size_t innerSize, const char* format, va_list arguments) {
    // The whole line holds at most 1023 characters, so a larger inner buffer
    // could not change the result.
    char inner[kLineSize];
    const size_t size = innerSize < sizeof inner ? innerSize : sizeof inner;
    if (size == 0)
        inner[0] = '\0';
    else
        boundedVprintf(inner, size, format, arguments);
    logLevel(prefixFormat, inner);
}

}  // namespace

void LogInfo(const char* text) { logLevel("INFO: %s", text); }
void LogWarning(const char* text) { logLevel("WARNING: %s", text); }
void LogError(const char* text) { logLevel("ERROR: %s", text); }

void LogInfoF(size_t innerSize, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    logLevelV("INFO: %s", innerSize, format, arguments);
    va_end(arguments);
}

void LogWarningF(size_t innerSize, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    logLevelV("WARNING: %s", innerSize, format, arguments);
    va_end(arguments);
}

void LogErrorF(size_t innerSize, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    logLevelV("ERROR: %s", innerSize, format, arguments);
    va_end(arguments);
}

}  // namespace Drux

int LogPrintf(const char* format, ...) {
    if (Drux::LogFile::Path() == nullptr) return 0;
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
