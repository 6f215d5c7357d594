// The monotonic clock on Windows: the multimedia timer (timeGetTime), whose 32
// bits wrap after 49.7 days, widened to 64 bits by counting the wraps.
#include <atomic>
#include <cstdint>

#include "core/platform/platform.h"
#include "core/platform/win32/windows_headers.h"
#include <mmsystem.h>

namespace Drux {

int64_t monotonicMilliseconds() {
    // The last value handed out. A reading whose low half is far below the
    // last one's has wrapped; one slightly below it was read before a racing
    // caller's and is answered with that caller's (later) value.
    static std::atomic<uint64_t> last{0};
    uint64_t previous = last.load();
    for (;;) {
        const uint32_t low = ::timeGetTime();
        const uint32_t previousLow = static_cast<uint32_t>(previous);
        uint64_t high = previous >> 32;
        if (low < previousLow) {
            if (previousLow - low < 0x80000000u) return static_cast<int64_t>(previous);
            ++high;
        }
        const uint64_t now = (high << 32) | low;
        if (last.compare_exchange_weak(previous, now)) return static_cast<int64_t>(now);
    }
}

}  // namespace Drux
