#include "version_store.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "module.h"

namespace DruxPatcher {
namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxVersionLength = 64;
constexpr size_t kCopyChunk = 64 * 1024;
constexpr const char kDefaultAvailable[] = "1.0.0,1.1.0,2.0.0";
constexpr const char kPartialSuffix[] = ".partial";

std::string environment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

// Copies one file in chunks; false with *error when it fails or is cancelled.
bool copyFile(const fs::path& from, const fs::path& to, const std::atomic<bool>& cancel, uint64_t* done, uint64_t total,
              const ProgressReport& report, std::string* error) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    if (!in || !out) {
        *error = "cannot copy " + from.string() + " to " + to.string();
        return false;
    }
    std::vector<char> chunk(kCopyChunk);
    while (in) {
        if (cancel.load()) {
            *error = "cancelled";
            return false;
        }
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const std::streamsize got = in.gcount();
        if (got <= 0) break;
        out.write(chunk.data(), got);
        *done += static_cast<uint64_t>(got);
        report(*done, total);
    }
    out.close();
    if (!out || in.bad()) {
        *error = "copying " + from.string() + " failed";
        return false;
    }
    return true;
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        std::string item = text.substr(start, end - start);
        item.erase(0, item.find_first_not_of(' '));
        item.erase(item.find_last_not_of(' ') + 1);
        if (validVersion(item) && std::find(items.begin(), items.end(), item) == items.end()) items.push_back(item);
        start = end + 1;
    }
    return items;
}

bool isNumber(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::vector<std::string> parts(const std::string& version) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t dot = version.find('.', start);
        out.push_back(version.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) return out;
        start = dot + 1;
    }
}

}  // namespace

Settings currentSettings() {
    Settings s;
    s.root = environment("DRUX_PATCHER_ROOT", "versions");
    const std::string source = environment("DRUX_PATCHER_GAME", "");
    s.gameSource = source.empty() ? libraryDirectory() / kGameFileName : fs::path(source);
    s.library = loadedLibrary();
    s.available = splitList(environment("DRUX_PATCHER_AVAILABLE", kDefaultAvailable));
    std::sort(s.available.begin(), s.available.end(),
              [](const std::string& a, const std::string& b) { return compareVersions(a, b) > 0; });
    return s;
}

bool validVersion(const std::string& version) {
    if (version.empty() || version.size() > kMaxVersionLength || version == "." || version == "..") return false;
    return std::all_of(version.begin(), version.end(),
                       [](unsigned char c) { return std::isalnum(c) || c == '.' || c == '_' || c == '-'; });
}

int compareVersions(const std::string& a, const std::string& b) {
    const std::vector<std::string> pa = parts(a), pb = parts(b);
    for (size_t i = 0; i < std::max(pa.size(), pb.size()); ++i) {
        if (i >= pa.size()) return -1;
        if (i >= pb.size()) return 1;
        if (isNumber(pa[i]) && isNumber(pb[i])) {
            const std::string x = pa[i].substr(std::min(pa[i].find_first_not_of('0'), pa[i].size() - 1));
            const std::string y = pb[i].substr(std::min(pb[i].find_first_not_of('0'), pb[i].size() - 1));
            if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
            if (x != y) return x < y ? -1 : 1;
        } else if (pa[i] != pb[i]) {
            return pa[i] < pb[i] ? -1 : 1;
        }
    }
    return 0;
}

fs::path installedGame(const Settings& settings, const std::string& version) {
    if (!validVersion(version)) return {};
    std::error_code error;
    const fs::path game = fs::absolute(settings.root / version / settings.gameSource.filename(), error);
    if (error || !fs::is_regular_file(game, error)) return {};
    return game;
}

std::vector<std::string> installedVersions(const Settings& settings) {
    std::vector<std::string> versions;
    std::error_code error;
    for (fs::directory_iterator it(settings.root, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (validVersion(name) && !installedGame(settings, name).empty()) versions.push_back(name);
    }
    std::sort(versions.begin(), versions.end(),
              [](const std::string& a, const std::string& b) { return compareVersions(a, b) < 0; });
    return versions;
}

std::vector<std::string> uninstallableVersions(const Settings& settings) {
    std::vector<std::string> versions = installedVersions(settings);
    if (!versions.empty()) versions.pop_back();
    return versions;
}

std::vector<std::string> latestVersions(const Settings& settings, const std::string& request) {
    std::vector<std::string> versions = settings.available;
    char* end = nullptr;
    const long count = std::strtol(request.c_str(), &end, 10);
    if (!request.empty() && *end == '\0' && count >= 0 && static_cast<size_t>(count) < versions.size())
        versions.resize(static_cast<size_t>(count));
    return versions;
}

uint64_t installedSize(const Settings& settings, const std::string& version) {
    if (!validVersion(version)) return 0;
    uint64_t total = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(settings.root / version, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code sizeError;
        if (it->is_regular_file(sizeError)) total += it->file_size(sizeError);
    }
    return total;
}

uint64_t installSize(const Settings& settings) {
    std::error_code error;
    const uintmax_t game = fs::file_size(settings.gameSource, error);
    if (error) return 0;
    const uintmax_t library = settings.library.empty() ? 0 : fs::file_size(settings.library, error);
    return game + (error ? 0 : library);
}

bool installVersion(const Settings& settings, const std::string& version, const std::atomic<bool>& cancel,
                    const ProgressReport& report, std::string* error) {
    if (!validVersion(version)) {
        *error = "not a version name";
        return false;
    }
    if (std::find(settings.available.begin(), settings.available.end(), version) == settings.available.end()) {
        *error = "version " + version + " is not available";
        return false;
    }
    std::error_code fsError;
    if (!installedGame(settings, version).empty()) {
        report(1, 1);  // already there: nothing to copy
        return true;
    }
    if (!fs::is_regular_file(settings.gameSource, fsError)) {
        *error = "cannot read the game " + settings.gameSource.string();
        return false;
    }
    const uint64_t total = installSize(settings);
    const fs::path folder = settings.root / version;
    fs::create_directories(folder, fsError);
    const fs::path target = folder / settings.gameSource.filename();
    const fs::path partial = target.string() + kPartialSuffix;
    uint64_t done = 0;
    report(0, total);
    bool ok = copyFile(settings.gameSource, partial, cancel, &done, total, report, error);
    if (ok && !settings.library.empty())
        ok = copyFile(settings.library, folder / settings.library.filename(), cancel, &done, total, report, error);
    if (!ok) {
        fs::remove(partial, fsError);
        if (!settings.library.empty()) fs::remove(folder / settings.library.filename(), fsError);
        fs::remove(folder, fsError);  // only when nothing else is in it
        return false;
    }
    fs::permissions(partial,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                        fs::perms::others_exec,
                    fsError);
    fs::rename(partial, target, fsError);
    if (fsError) {
        *error = "cannot finish " + target.string() + ": " + fsError.message();
        return false;
    }
    return true;
}

bool uninstallVersion(const Settings& settings, const std::string& version, std::string* error) {
    if (installedGame(settings, version).empty()) {
        *error = "version " + version + " is not installed";
        return false;
    }
    const std::vector<std::string> removable = uninstallableVersions(settings);
    if (std::find(removable.begin(), removable.end(), version) == removable.end()) {
        *error = "version " + version + " is the newest installed version and stays";
        return false;
    }
    std::error_code fsError;
    fs::remove_all(settings.root / version, fsError);
    if (fsError) {
        *error = "cannot remove " + (settings.root / version).string() + ": " + fsError.message();
        return false;
    }
    return true;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string jsonList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + jsonString(items[i]);
    return out + "]";
}

}  // namespace DruxPatcher
