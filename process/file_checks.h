// File and path checks of the launcher side.
#pragma once

#include <cstddef>
#include <cstdint>

// 1 if the path names an existing file that is not a directory; otherwise logs
// ERROR "The file [%s] does not exist." and returns 0. Bare file names are
// looked for beside the host executable.
int32_t FileExists(const char* path);
bool GetHostExecutableDirectory(char* output, size_t outputSize);
// The directory holding path (a directory path's parent), ending in a separator, into 256 bytes.
bool GetContainingDirectory(const char* path, char* output);
// Position of the last occurrence of searched in text, or -1.
long FindLastSubstring(const char* text, const char* searched);
