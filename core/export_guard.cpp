// The log line of an exception stopped at the exported interface.
#include "core/export_guard.h"

#include "core/log.h"

namespace Drux {

void logEscapedException(const char* exportName, const char* what) {
    LogErrorF(512, "%s: unexpected failure: %s\n", exportName != nullptr ? exportName : "export",
              what != nullptr ? what : "unknown exception");
}

}  // namespace Drux
