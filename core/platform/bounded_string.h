// Bounded string functions that check their pointer arguments, and the text
// utilities every layer formats with. A failed check builds the assertion
// report, hands it to the assertion handler if one is installed, and ends the
// process.
#pragma once

#include <boost/function.hpp>
#include <cstdarg>
#include <cstddef>
#include <string>

#include "core/platform/printf_format.h"

namespace Drux {

size_t std_strnlen(const char* pStr, size_t maxLength);
// Copies at most destSize - 1 characters and always terminates. Returns pDest.
char* std_strncpy(char* pDest, size_t destSize, const char* pSrc);
// Copies the whole source (shorter than 260 characters) into 260 characters.
char* std_strcpy(char* pDest, const char* pSrc);

// printf into buffer with truncation: at most size - 1 characters and a NUL.
// Returns the number of characters written.
int boundedPrintf(char* buffer, size_t size, const char* format, ...) DRUX_PRINTF_FORMAT(3, 4);
int boundedVprintf(char* buffer, size_t size, const char* format, va_list arguments);
// printf into a string of the size the text needs (empty when the format
// cannot be applied): for texts built from inputs of any length.
std::string formatted(const char* format, ...) DRUX_PRINTF_FORMAT(1, 2);

using AssertionHandler = boost::function<void(const char* report)>;
// Installs the process-wide handler (an empty function removes it).
void setAssertionHandler(AssertionHandler handler);
// Builds the report text of a failed check (description may be null).
std::string assertionReport(const char* file, unsigned line, const char* function, const char* expression,
                            const char* description);
// Reports a failed check and ends the process.
[[noreturn]] void assertionFailed(const char* file, unsigned line, const char* function, const char* expression);

}  // namespace Drux
