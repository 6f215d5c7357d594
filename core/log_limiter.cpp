#include "core/log_limiter.h"

#include <cstring>

#include "core/log.h"
#include "core/platform/clock.h"

namespace Drux {

LogLimiter::~LogLimiter() {
    for (const Entry& entry : entries_)
        if (entry.suppressed > 0) report(entry);
}

LogLimiter::Entry* LogLimiter::entryFor(bool warning, const char* text) {
    // A text too long to keep whole is not limited (the peer's texts are short).
    if (std::strlen(text) >= sizeof Entry::text) return nullptr;
    for (Entry& entry : entries_) {
        if (!entry.used) {
            entry.used = true;
            entry.warning = warning;
            std::strcpy(entry.text, text);
            return &entry;
        }
        if (entry.warning == warning && std::strcmp(entry.text, text) == 0) return &entry;
    }
    return nullptr;
}

void LogLimiter::report(const Entry& entry) {
    // The text without its line end, so that the count closes the line.
    const size_t length = std::strcspn(entry.text, "\n");
    if (entry.warning)
        LogWarningF(512, "%u more of \"%.*s\" from this connection were not logged.\n", entry.suppressed,
                    static_cast<int>(length), entry.text);
    else
        LogInfoF(512, "%u more of \"%.*s\" from this connection were not logged.\n", entry.suppressed,
                 static_cast<int>(length), entry.text);
}

void LogLimiter::pass(bool warning, const char* text) {
    if (text == nullptr) return;
    Entry held;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        Entry* entry = entryFor(warning, text);
        if (entry != nullptr && entry->passed >= kBurst) {
            ++entry->suppressed;
            const uint32_t now = tickMilliseconds();
            if (now - entry->lastReportTick < kIntervalMs) return;
            held = *entry;
            entry->suppressed = 0;
            entry->lastReportTick = now;
        } else if (entry != nullptr) {
            ++entry->passed;
            entry->lastReportTick = tickMilliseconds();
        }
    }
    // Logged outside the limiter's lock: the log's lock stays the innermost.
    if (held.used)
        report(held);
    else if (warning)
        LogWarning(text);
    else
        LogInfo(text);
}

}  // namespace Drux
