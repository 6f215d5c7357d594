// The run's timeline: every program of a launcher run notes what it sent and
// received. Each note goes to standard output as
//   [hh:mm:ss.mmm] who: text
// and, when the environment variable DRUX_TIMELINE names a file, is appended
// there as one line "<milliseconds since the epoch>\t<who>\t<text>" with a
// single write, so that the notes of several processes interleave whole and can
// be sorted into one timeline.
#pragma once

#include <cstdint>
#include <string>

#include "core/platform/printf_format.h"

namespace DruxApps {

// Wall-clock milliseconds since the epoch: the one clock that the three
// programs share.
int64_t wallClockMs();

class Timeline {
public:
    // Sets the name this process writes as "who" and opens the file of
    // DRUX_TIMELINE, if set. Call once, before the first note.
    static void open(const std::string& who);
    static void close();
    // Thread-safe. Line ends in the text are written as blanks.
    static void note(const std::string& text);
    static void notef(const char* format, ...) DRUX_PRINTF_FORMAT(1, 2);
    // The same note on standard error (for failures); also goes to the file.
    static void error(const std::string& text);
    // Standard output only, never the file (for chatter such as replies).
    static void local(const std::string& text);
};

}  // namespace DruxApps
