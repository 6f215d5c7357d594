// Paths in the Windows form (drive, directory, file name, extension), split and
// joined by the same rules on every system: '\' and '/' both separate, a drive
// is a letter and a colon.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Drux {

constexpr size_t kMaxPath = 260;

// Splits path into its parts; any output may be null. Each part goes into a
// buffer of the given size; false (outputs untouched) when a part does not fit.
// drive: "C:" or ""; directory: up to and including the last separator;
// fileName: after it, up to the last '.'; extension: from that '.' on.
bool splitPath(const char* path, char* drive, size_t driveSize, char* directory, size_t directorySize, char* fileName,
               size_t fileNameSize, char* extension, size_t extensionSize);
// Joins drive and directory into output (truncating at outputSize - 1); adds a
// separator after the directory if it lacks one.
bool makePath(char* output, size_t outputSize, const char* drive, const char* directory);
// directory, a separator unless it ends in one, and name, into output
// (truncating at outputSize - 1). False when the result was cut: a cut path
// could name another file.
bool joinPath(char* output, size_t outputSize, const char* directory, const char* name);
// An absolute form of path against the current directory, as the system
// resolves it, into outputSize characters; false if it does not fit. Windows:
// the system's own (UNC "\\server\share\...", drive-relative "C:dir",
// "\\?\" paths, forward slashes; a leading separator is the current
// drive's root). POSIX: "." and ".." folded without resolving links.
// A directory keeps its trailing separator.
bool fullPath(char* output, size_t outputSize, const char* path);
// The current directory into a buffer of 260 characters; false on failure.
bool currentDirectory(char* output, size_t outputSize);
// The full path of the process's main executable; false on failure.
bool hostExecutablePath(char* output, size_t outputSize);

// File attributes: kInvalidFileAttributes when the path does not exist.
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr uint32_t kDirectoryAttribute = 16;
uint32_t fileAttributes(const char* path);
// True if the attribute bits lack the directory bit.
bool isNotDirectory(uint32_t attributes);

bool deleteFile(const char* path);

}  // namespace Drux
