#include "text.h"

#include "system.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace DruxApps {

std::string trim(const std::string& text) {
    size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
    size_t end = text.size();
    while (end > start && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(start, end - start);
}

std::string firstWord(const std::string& text, std::string* rest) {
    const std::string t = trim(text);
    size_t end = 0;
    while (end < t.size() && !std::isspace(static_cast<unsigned char>(t[end]))) ++end;
    if (rest != nullptr) *rest = trim(t.substr(end));
    return t.substr(0, end);
}

bool parseInteger(const std::string& text, long* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return false;
    *value = parsed;
    return true;
}

bool parsePort(const std::string& text, const std::string& what, int* port, std::string* error) {
    long value = 0;
    if (!parseInteger(text, &value) || value < 1 || value > 65535) {
        *error = what + "\"" + text + "\" is not a port (1..65535)";
        return false;
    }
    *port = static_cast<int>(value);
    return true;
}

bool takeValue(int argc, char** argv, int* i, std::string* value, std::string* error) {
    if (*i + 1 >= argc) {
        *error = std::string("option ") + argv[*i] + " needs a value";
        return false;
    }
    *value = argv[++*i];
    return true;
}

bool checkLogTag(const std::string& tag, std::string* error) {
    if (!tag.empty() && tag.find('/') == std::string::npos) return true;
    *error = "the log tag must be a non-empty name without '/'";
    return false;
}

bool parseSeconds(const std::string& text, double* seconds) {
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.')) return false;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(parsed) || parsed < 0 || parsed > 86400) return false;
    *seconds = parsed;
    return true;
}

std::string executableDirectory() {
    const std::string full = executablePath();
    const size_t slash = full.find_last_of("/\\");
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : full.substr(0, slash));
}

std::string fileName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace DruxApps
