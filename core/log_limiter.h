// Keeps a peer from filling the disk through the log: repeated identical
// warnings of one connection pass a few times, then at most one line per
// interval tells how many were held back. A healthy run never repeats a
// warning, so its lines are unchanged.
#pragma once

#include <cstdint>
#include <mutex>

namespace Drux {

class LogLimiter {
public:
    // The first `burst` repeats of a text pass; after that one summary line
    // per `intervalMs` of the library's clock.
    static constexpr uint32_t kBurst = 5;
    static constexpr uint32_t kIntervalMs = 1000;

    LogLimiter() = default;
    // Reports what is still held back.
    ~LogLimiter();
    LogLimiter(const LogLimiter&) = delete;
    LogLimiter& operator=(const LogLimiter&) = delete;

    // Logs the WARNING or INFO text (with its own "\n"), or counts it when
    // its repeats are being held back. Texts are compared by content; a
    // connection has only a few distinct texts, and beyond kTexts further
    // texts pass unlimited.
    void warning(const char* text) { pass(true, text); }
    void info(const char* text) { pass(false, text); }

private:
    static constexpr int kTexts = 8;
    struct Entry {
        bool used = false;
        bool warning = false;
        char text[160] = {};
        uint32_t passed = 0;
        uint32_t suppressed = 0;
        uint32_t lastReportTick = 0;
    };
    void pass(bool warning, const char* text);
    Entry* entryFor(bool warning, const char* text);
    static void report(const Entry& entry);

    std::mutex mutex_;
    Entry entries_[kTexts];
};

}  // namespace Drux
