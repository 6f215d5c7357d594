// The sample patch library's game versions: one folder per version under a
// root directory, each holding a copy of the game executable.
//
//   root          DRUX_PATCHER_ROOT, default "versions" in the current directory
//   game source   DRUX_PATCHER_GAME, default "drux-game" (".exe" on Windows) beside patcher.dll;
//                 installing a version copies it into <root>/<version>/,
//                 together with the launcher library that the process has
//                 loaded (libDruxLauncher.so*, DruxLauncher.dll), as a game ships the library
//                 it loads beside itself
//   available     DRUX_PATCHER_AVAILABLE, comma-separated, default
//                 "1.0.0,1.1.0,2.0.0": the versions that can be installed
//
// A version name is 1 to 64 of the characters A-Z a-z 0-9 . _ - and not "."
// or "..". Versions sort by their dot-separated parts, numerically where both
// parts are numbers.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace DruxPatcher {

struct Settings {
    std::filesystem::path root;
    std::filesystem::path gameSource;
    std::filesystem::path library;       // the loaded launcher library, or empty
    std::vector<std::string> available;  // newest first
};

// Read from the environment at each call, so a host can change them.
Settings currentSettings();

bool validVersion(const std::string& version);
// Negative, zero or positive as a sorts before, with or after b.
int compareVersions(const std::string& a, const std::string& b);

// The game executable of an installed version (absolute), or empty.
std::filesystem::path installedGame(const Settings& settings, const std::string& version);
// Oldest first.
std::vector<std::string> installedVersions(const Settings& settings);
// Every installed version but the newest, which stays so that a game remains.
std::vector<std::string> uninstallableVersions(const Settings& settings);
// The available versions, newest first; request "all" (or any text that is
// not a number) gives them all, a number N the newest N.
std::vector<std::string> latestVersions(const Settings& settings, const std::string& request);
uint64_t installedSize(const Settings& settings, const std::string& version);
// The bytes an install copies (the game and the library); 0 when the game is missing.
uint64_t installSize(const Settings& settings);

// Copies the game source (and the library) into the version's folder in
// chunks, reporting (done, total) after each, and gives up when cancel turns
// true. The game appears under its final name only when all is copied.
using ProgressReport = std::function<void(uint64_t done, uint64_t total)>;
bool installVersion(const Settings& settings, const std::string& version, const std::atomic<bool>& cancel,
                    const ProgressReport& report, std::string* error);
bool uninstallVersion(const Settings& settings, const std::string& version, std::string* error);

// JSON texts: a list of strings and a string (escaped).
std::string jsonList(const std::vector<std::string>& items);
std::string jsonString(const std::string& text);

}  // namespace DruxPatcher
