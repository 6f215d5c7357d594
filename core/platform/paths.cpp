// Paths, split and joined by the Windows rules on every system (a drive is a
// letter and a colon; '\' and '/' both separate), so that paths given to the
// library behave alike on both; the folded absolute form that the POSIX
// back-end gives as a full path is built here, without resolving links.
#include "core/platform/paths.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "core/platform/native.h"
#include "core/platform/platform.h"

namespace Drux {
namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool hasDrive(const char* path) { return std::isalpha(static_cast<unsigned char>(path[0])) != 0 && path[1] == ':'; }

// Whether a part of `length` characters fits into output (a null output takes anything).
bool fits(const char* output, size_t outputSize, size_t length) { return output == nullptr || length < outputSize; }

void put(char* output, const char* begin, size_t length) {
    if (output == nullptr) return;
    std::memcpy(output, begin, length);
    output[length] = '\0';
}

// Copies text into output, cut at outputSize - 1; false when it was cut.
bool putTruncated(char* output, size_t outputSize, const std::string& text) {
    const size_t copied = text.size() < outputSize ? text.size() : outputSize - 1;
    std::memcpy(output, text.data(), copied);
    output[copied] = '\0';
    return copied == text.size();
}

}  // namespace

bool splitPath(const char* path, char* drive, size_t driveSize, char* directory, size_t directorySize, char* fileName,
               size_t fileNameSize, char* extension, size_t extensionSize) {
    if (path == nullptr) return false;
    const size_t length = std::strlen(path);
    const size_t driveLength = hasDrive(path) ? 2 : 0;

    size_t nameStart = driveLength;
    for (size_t i = driveLength; i < length; ++i)
        if (isSeparator(path[i])) nameStart = i + 1;

    size_t extensionStart = length;
    for (size_t i = length; i > nameStart; --i) {
        if (path[i - 1] == '.') {
            extensionStart = i - 1;
            break;
        }
    }

    const size_t directoryLength = nameStart - driveLength;
    const size_t fileNameLength = extensionStart - nameStart;
    const size_t extensionLength = length - extensionStart;
    if (!fits(drive, driveSize, driveLength) || !fits(directory, directorySize, directoryLength) ||
        !fits(fileName, fileNameSize, fileNameLength) || !fits(extension, extensionSize, extensionLength))
        return false;

    put(drive, path, driveLength);
    put(directory, path + driveLength, directoryLength);
    put(fileName, path + nameStart, fileNameLength);
    put(extension, path + extensionStart, extensionLength);
    return true;
}

bool makePath(char* output, size_t outputSize, const char* drive, const char* directory) {
    if (output == nullptr || outputSize == 0) return false;
    std::string result;
    if (drive != nullptr && drive[0] != '\0') {
        result += drive[0];
        result += ':';
    }
    if (directory != nullptr && directory[0] != '\0') {
        result += directory;
        if (!isSeparator(result.back())) {
            // Keep the directory's own separator style; '/' when it has none.
            const char* last = std::strrchr(directory, '\\');
            result += (last != nullptr && std::strchr(directory, '/') == nullptr) ? '\\' : '/';
        }
    }
    return putTruncated(output, outputSize, result);
}

bool foldedFullPath(char* output, size_t outputSize, const char* path) {
    if (output == nullptr || outputSize == 0 || path == nullptr) return false;
    std::string relative;
    if (!hasDrive(path) && !isSeparator(path[0])) {
        char directory[kMaxPath];
        if (!currentDirectory(directory, sizeof directory)) return false;
        relative = std::string(directory) + kNativePathSeparator + path;
        path = relative.c_str();
    }
    std::string prefix;  // the root: "/" or "C:\"
    std::string rest;
    char separator = '/';
    if (hasDrive(path)) {
        separator = '\\';
        prefix.assign(path, 2);
        prefix += separator;
        rest = path + 2;
    } else {
        prefix = "/";
        rest = path;
    }

    // Fold "." and ".." over the segments; ".." at the root stays at the root.
    std::vector<std::string> segments;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = start;
        while (end < rest.size() && !isSeparator(rest[end])) ++end;
        const std::string segment = rest.substr(start, end - start);
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string result = prefix;
    for (size_t i = 0; i < segments.size(); ++i) {
        if (i > 0) result += separator;
        result += segments[i];
    }
    const bool trailing = !rest.empty() && isSeparator(rest.back());
    if (trailing && !segments.empty()) result += separator;

    if (result.size() >= outputSize) return false;
    std::memcpy(output, result.c_str(), result.size() + 1);
    return true;
}

bool isNotDirectory(uint32_t attributes) { return (attributes & kDirectoryAttribute) == 0; }

bool joinPath(char* output, size_t outputSize, const char* directory, const char* name) {
    if (output == nullptr || outputSize == 0) return false;
    std::string result = directory != nullptr ? directory : "";
    if (!result.empty() && !isSeparator(result.back())) result += kNativePathSeparator;
    result += name != nullptr ? name : "";
    return putTruncated(output, outputSize, result);
}

}  // namespace Drux
