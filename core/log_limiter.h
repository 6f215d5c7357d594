// Keeps a peer from filling the disk through the log. Each text may be written
// a few times per interval of the library's clock; past that its repeats are
// counted, and the first line after the interval tells how many were held
// back. A line repeated no faster than that allowance is always written as is,
// so healthy traffic keeps its lines; summaries appear only when lines were
// actually dropped. No sequence of calls writes more than
// (kTexts + 2) * (kBurst + 1) lines per interval.
#pragma once

#include <cstdint>
#include <mutex>

namespace Drux {

class LogLimiter {
public:
    // `kBurst` lines of one text per `kIntervalMs` of the library's clock.
    static constexpr uint32_t kBurst = 5;
    static constexpr uint32_t kIntervalMs = 1000;
    // Texts counted each on its own; further texts (and texts too long to
    // keep) are counted together, per level.
    static constexpr int kTexts = 8;

    // `source` completes the summary lines ("from this connection").
    explicit LogLimiter(const char* source = "from this connection") : source_(source) {}
    // Reports what is still held back.
    ~LogLimiter();
    LogLimiter(const LogLimiter&) = delete;
    LogLimiter& operator=(const LogLimiter&) = delete;

    // Logs the WARNING or INFO text (with its own "\n"), or counts it when its
    // allowance for this interval is used up. Texts are compared by content.
    void warning(const char* text) { pass(true, text); }
    void info(const char* text) { pass(false, text); }

private:
    struct Entry {
        bool used = false;
        bool warning = false;
        char text[160] = {};  // empty for the entries that count other texts
        uint32_t windowStartTick = 0;
        uint32_t written = 0;
        uint32_t dropped = 0;
    };
    void pass(bool warning, const char* text);
    Entry& entryFor(bool warning, const char* text);
    void report(const Entry& entry) const;

    const char* source_;
    std::mutex mutex_;
    Entry entries_[kTexts];
    Entry others_[2];  // warnings, infos
};

}  // namespace Drux
