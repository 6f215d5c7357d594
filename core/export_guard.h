// Keeps exceptions from crossing the exported interface: an export's body runs
// inside guardExport, and anything it throws becomes a log line and the
// failure result.
#pragma once

#include <exception>
#include <utility>

namespace Drux {

void logEscapedException(const char* exportName, const char* what);

template <typename Result, typename Body>
Result guardExport(const char* exportName, Result failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (const std::exception& e) {
        logEscapedException(exportName, e.what());
    } catch (...) {
        logEscapedException(exportName, "unknown exception");
    }
    return failure;
}

}  // namespace Drux
