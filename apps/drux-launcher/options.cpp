#include "options.h"

#include "system.h"
#include "text.h"

namespace DruxHost {

bool parseOptions(int argc, char** argv, Options* o, std::string* error) {
    const std::string here = DruxApps::executableDirectory();
    o->launcherPath = DruxApps::executablePath();
    if (o->launcherPath.empty()) o->launcherPath = "drux-launcher";
    o->airPath = here + "/KyrCLient.exe";
    o->gamePath = here + "/drux-game" + DruxApps::kProgramSuffix;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            o->help = true;
            continue;
        }
        if (arg == "--verify") {
            o->verify = true;
            continue;
        }
        if (arg == "--ports") {
            std::string value;
            if (!DruxApps::takeValue(argc, argv, &i, &value, error)) return false;
            if (value != "auto") {
                *error = "option --ports: the value must be \"auto\", not \"" + value + "\"";
                return false;
            }
            o->autoPorts = true;
            continue;
        }
        std::string* text = nullptr;
        int* port = nullptr;
        if (arg == "--launcher-path")
            text = &o->launcherPath;
        else if (arg == "--air-path")
            text = &o->airPath;
        else if (arg == "--game-path")
            text = &o->gamePath;
        else if (arg == "--log-tag")
            text = &o->logTag;
        else if (arg == "--air-args")
            text = &o->airArguments;
        else if (arg == "--launcher-port")
            port = &o->launcherPort;
        else if (arg == "--air-port")
            port = &o->airPort;
        else if (arg == "--game-port")
            port = &o->gamePort;
        else {
            *error = "unknown option \"" + arg + "\"";
            return false;
        }
        std::string value;
        if (!DruxApps::takeValue(argc, argv, &i, &value, error)) return false;
        if (text != nullptr) {
            if (value.empty() && text != &o->airArguments) {
                *error = "option " + arg + " needs a non-empty value";
                return false;
            }
            *text = value;
            if (text == &o->airArguments) o->haveAirArguments = true;
        } else if (!DruxApps::parsePort(value, "option " + arg + ": ", port, error)) {
            return false;
        }
    }
    const bool explicitPorts =
        o->launcherPort != kDefaultLauncherPort || o->airPort != kDefaultAirPort || o->gamePort != kDefaultGamePort;
    if (o->autoPorts && explicitPorts) {
        *error = "--ports auto chooses all three ports: give no --launcher-port, --air-port or --game-port with it";
        return false;
    }
    if (o->launcherPort == o->airPort || o->launcherPort == o->gamePort || o->airPort == o->gamePort) {
        *error = "the launcher, AIR and game ports must differ";
        return false;
    }
    return DruxApps::checkLogTag(o->logTag, error);
}

const char* usageText() {
    return "usage: drux-launcher [options]\n"
           "\n"
           "The launcher host: listens on the launcher, AIR and game ports of 127.0.0.1,\n"
           "starts the AIR client (which asks for the game), supervises both until the\n"
           "run ends, then removes everything. Prints what happens with time stamps;\n"
           "writes the library's log to vantrel-<tag>.log in the current directory,\n"
           "where it also looks for the patch library patcher.dll.\n"
           "\n"
           "options:\n"
           "  --launcher-path PATH   this launcher's executable (default: itself)\n"
           "  --air-path PATH        the AIR client (default: KyrCLient.exe beside the launcher)\n"
           "  --game-path PATH       the game (default: drux-game beside the launcher)\n"
           "  --launcher-port N      default 47310\n"
           "  --air-port N           default 47311 (given to the AIR client on its command line)\n"
           "  --game-port N          default 47312 (given to the game on its command line)\n"
           "  --ports auto           three loopback ports that are free at start instead\n"
           "                         (printed at start)\n"
           "  --air-args TEXT        extra arguments for the AIR client's command line\n"
           "                         (e.g. --air-args '--script run.air')\n"
           "  --verify               check that the three programs exist before starting\n"
           "  --log-tag TAG          log file vantrel-TAG.log (default: launcher)\n"
           "  -h, --help             this text\n"
           "\n"
           "Starting a program takes about ten seconds (the library pauses twice while\n"
           "it starts). At start-up the library ends earlier instances of the three\n"
           "programs by executable name (only those of this user). Ctrl-C (SIGINT) or SIGTERM closes the run: the\n"
           "AIR client is asked to close (up to 30 s; a second Ctrl-C stops waiting);\n"
           "whatever still runs after that is stopped.\n"
           "\n"
           "exit status: 0 the run ended normally; 1 it could not start (bad option,\n"
           "missing program, port in use); 2 it ended after the library reported an\n"
           "error; 130 closed by SIGINT; 143 closed by SIGTERM.\n";
}

}  // namespace DruxHost
