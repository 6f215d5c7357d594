#include "core/log_limiter.h"

#include <cstring>

#include "core/log.h"
#include "core/platform/clock.h"

namespace Drux {

LogLimiter::~LogLimiter() {
    for (const Entry& entry : entries_)
        if (entry.dropped > 0) report(entry);
    for (const Entry& entry : others_)
        if (entry.dropped > 0) report(entry);
}

LogLimiter::Entry& LogLimiter::entryFor(bool warning, const char* text) {
    if (std::strlen(text) < sizeof Entry::text) {
        for (Entry& entry : entries_) {
            if (!entry.used) {
                entry.used = true;
                entry.warning = warning;
                std::strcpy(entry.text, text);
                return entry;
            }
            if (entry.warning == warning && std::strcmp(entry.text, text) == 0) return entry;
        }
    }
    Entry& other = others_[warning ? 0 : 1];
    other.used = true;
    other.warning = warning;
    return other;
}

void LogLimiter::report(const Entry& entry) const {
    if (entry.text[0] == '\0') {
        if (entry.warning)
            LogWarningF(512, "%u more warnings %s were not logged.\n", entry.dropped, source_);
        else
            LogInfoF(512, "%u more lines %s were not logged.\n", entry.dropped, source_);
        return;
    }
    // The text without its line end, so that the count closes the line.
    const int length = static_cast<int>(std::strcspn(entry.text, "\n"));
    if (entry.warning)
        LogWarningF(512, "%u more of \"%.*s\" %s were not logged.\n", entry.dropped, length, entry.text, source_);
    else
        LogInfoF(512, "%u more of \"%.*s\" %s were not logged.\n", entry.dropped, length, entry.text, source_);
}

void LogLimiter::pass(bool warning, const char* text) {
    if (text == nullptr) return;
    Entry summary;
    bool write = false;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        Entry& entry = entryFor(warning, text);
        const uint32_t now = tickMilliseconds();
        if (entry.written == 0 || now - entry.windowStartTick >= kIntervalMs) {
            // A new interval: what the last one held back is told first.
            if (entry.dropped > 0) summary = entry;
            entry.windowStartTick = now;
            entry.written = 0;
            entry.dropped = 0;
        }
        if (entry.written < kBurst) {
            ++entry.written;
            write = true;
        } else {
            ++entry.dropped;
        }
    }
    // Logged outside the limiter's lock: the log's lock stays the innermost.
    if (summary.dropped > 0) report(summary);
    if (!write) return;
    if (warning)
        LogWarning(text);
    else
        LogInfo(text);
}

}  // namespace Drux
