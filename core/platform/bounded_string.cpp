// Bounded strings, bounded formatting and the assertion report of a failed
// pointer check.
#include "core/platform/bounded_string.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "core/platform/paths.h"
#include "core/platform/state_lock.h"

namespace Drux {
namespace {

// The source file that the reports of these checks name.
constexpr char kCheckFile[] = "CStd/CStd";

StateLock& handlerMutex() {
    static StateLock m;
    return m;
}
AssertionHandler& handler() {
    static AssertionHandler h;
    return h;
}

}  // namespace

size_t std_strnlen(const char* pStr, size_t maxLength) {
    if (pStr == nullptr) assertionFailed(kCheckFile, 102, "Drux::std_strnlen", "pStr");
    // The C library's word-at-a-time scan: payloads of many kilobytes are
    // measured on every send.
    return ::strnlen(pStr, maxLength);
}

char* std_strncpy(char* pDest, size_t destSize, const char* pSrc) {
    if (pDest == nullptr) assertionFailed(kCheckFile, 249, "Drux::std_strncpy", "pDest");
    if (pSrc == nullptr) assertionFailed(kCheckFile, 250, "Drux::std_strncpy", "pSrc");
    const size_t length = std_strnlen(pSrc, SIZE_MAX);
    if (destSize == 0) return pDest;
    const size_t copied = length < destSize ? length : destSize - 1;
    std::memmove(pDest, pSrc, copied);
    pDest[copied] = '\0';
    return pDest;
}

char* std_strcpy(char* pDest, const char* pSrc) {
    std_strnlen(pSrc, kMaxPath - 1);
    return std_strncpy(pDest, kMaxPath, pSrc);
}

int boundedVprintf(char* buffer, size_t size, const char* format, va_list arguments) {
    if (buffer == nullptr || size == 0) return 0;
    if (format == nullptr) {
        buffer[0] = '\0';
        return 0;
    }
    const int n = std::vsnprintf(buffer, size, format, arguments);
    if (n < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(n) < size ? n : static_cast<int>(size - 1);
}

std::string formatted(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = format != nullptr ? std::vsnprintf(nullptr, 0, format, measuring) : -1;
    va_end(measuring);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length));
        std::vsnprintf(text.data(), text.size() + 1, format, arguments);
    }
    va_end(arguments);
    return text;
}

int boundedPrintf(char* buffer, size_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int n = boundedVprintf(buffer, size, format, arguments);
    va_end(arguments);
    return n;
}

void setAssertionHandler(AssertionHandler newHandler) {
    std::lock_guard<StateLock> guard(handlerMutex());
    handler() = std::move(newHandler);
}

std::string assertionReport(const char* file, unsigned line, const char* function, const char* expression,
                            const char* description) {
    std::string report = "Assertion failed!";
    report += "\n\n";
    report += "File: ";
    report += file != nullptr ? file : "";
    report += "\n";
    report += "Line: ";
    report += std::to_string(line);
    report += "\n\n";
    report += "Function: ";
    report += function != nullptr ? function : "";
    report += "\n\n";
    report += "Expression: ";
    report += expression != nullptr ? expression : "";
    if (description != nullptr) {
        report += "\n\n";
        report += "Description: ";
        report += description;
    }
    return report;
}

void assertionFailed(const char* file, unsigned line, const char* function, const char* expression) {
    const std::string report = assertionReport(file, line, function, expression, nullptr);
    AssertionHandler current;
    {
        std::lock_guard<StateLock> guard(handlerMutex());
        current = handler();
    }
    if (current) current(report.c_str());
    std::abort();
}

}  // namespace Drux
