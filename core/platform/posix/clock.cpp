// The monotonic clock on POSIX: CLOCK_MONOTONIC in milliseconds.
#include <time.h>

#include "core/platform/platform.h"

namespace Drux {

int64_t monotonicMilliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace Drux
