// Appending to a file that stays closed between writes: the log's lines.
#pragma once

#include <cstddef>

namespace Drux {

// Opens `path` for appending (creating it), writes the bytes in one write and
// closes it again, so the file can be moved or deleted between calls and the
// next call recreates it. The descriptor is never inherited by a started
// program. True when every byte was written. On Windows a "\n" is stored as
// "\r\n", as a text-mode stream stores it there.
bool appendToFile(const char* path, const void* data, size_t length);

}  // namespace Drux
