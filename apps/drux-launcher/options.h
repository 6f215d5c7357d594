// The launcher host's command line.
#pragma once

#include <string>

namespace DruxHost {

constexpr int kDefaultLauncherPort = 47310;
constexpr int kDefaultAirPort = 47311;
constexpr int kDefaultGamePort = 47312;

struct Options {
    std::string launcherPath;  // default: this executable
    std::string airPath;       // default: KyrCLient.exe beside this executable
    std::string gamePath;      // default: drux-game beside this executable
    int launcherPort = kDefaultLauncherPort;
    int airPort = kDefaultAirPort;
    int gamePort = kDefaultGamePort;
    bool autoPorts = false;  // --ports auto: three free loopback ports, chosen at start
    bool haveAirArguments = false;
    std::string airArguments;
    bool verify = false;
    std::string logTag = "launcher";
    bool help = false;
};

// Fills in the defaults first; false with a readable reason for a bad option.
bool parseOptions(int argc, char** argv, Options* options, std::string* error);
const char* usageText();

}  // namespace DruxHost
