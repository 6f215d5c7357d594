#include "options.h"

#include "text.h"

namespace DruxAir {
namespace {

using DruxApps::takeValue;

// Options of this program, valid before and after "--".
bool ownOption(int argc, char** argv, int* i, Options* o, bool* taken, std::string* error) {
    const std::string arg = argv[*i];
    *taken = true;
    if (arg == "--script") return takeValue(argc, argv, i, &o->scriptFile, error);
    if (arg == "--commands") {
        o->haveCommands = true;
        return takeValue(argc, argv, i, &o->commands, error);
    }
    if (arg == "--log-tag") {
        return takeValue(argc, argv, i, &o->logTag, error) && DruxApps::checkLogTag(o->logTag, error);
    }
    if (arg == "-h" || arg == "--help") {
        o->help = true;
        return true;
    }
    *taken = false;
    return true;
}

}  // namespace

bool parseOptions(int argc, char** argv, Options* o, std::string* error) {
    bool portSeen = false;
    bool separatorSeen = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bool taken = false;
        if (!ownOption(argc, argv, &i, o, &taken, error)) return false;
        if (taken) continue;
        if (!separatorSeen) {
            if (arg == "--") {
                separatorSeen = true;
                if (i + 1 >= argc) {
                    *error = "\"--\" must be followed by the launcher's AIR port";
                    return false;
                }
                const std::string portText = argv[++i];
                if (!DruxApps::parsePort(portText, "", &o->port, error)) return false;
                portSeen = true;
            } else if (arg == "-runtime") {
                std::string ignored;
                if (!takeValue(argc, argv, &i, &ignored, error)) return false;
                o->startedByLauncher = true;
            } else if (arg == "-nodebug" || arg.empty() || arg[0] != '-') {
                // The AIR runtime's flag, application descriptor and root directory.
            } else {
                *error = "unknown option \"" + arg + "\"";
                return false;
            }
        } else {
            *error = "unexpected argument \"" + arg + "\" after the port";
            return false;
        }
    }
    if (o->help) return true;
    if (!portSeen) {
        *error = "missing \"-- <port>\": the launcher's AIR port";
        return false;
    }
    if (!o->scriptFile.empty() && o->haveCommands) {
        *error = "--script and --commands exclude each other";
        return false;
    }
    return true;
}

const char* usageText() {
    return "usage: KyrCLient.exe [AIR runtime arguments] -- <airPort> [options]\n"
           "\n"
           "The stand-in AIR client: connects to the launcher's AIR port on 127.0.0.1,\n"
           "prints every message it receives (type name and time), and runs commands\n"
           "from a script, from --commands, or typed on standard input.\n"
           "\n"
           "options (before or after \"-- <port>\"):\n"
           "  --script FILE       run the commands of FILE (one per line)\n"
           "  --commands TEXT     run the commands of TEXT, separated by ';'\n"
           "  --log-tag TAG       write the library's log to vantrel-TAG.log (default: air)\n"
           "  -h, --help          this text\n"
           "Without --script and --commands, the file named by the environment variable\n"
           "DRUX_AIR_SCRIPT is run; without that, commands are read from standard input.\n"
           "When the commands run out the client stays connected until the launcher\n"
           "closes the run (a CLOSE from the launcher is answered with CLOSE).\n"
           "\n"
           "commands:\n"
           "  create game [args] | create version <v> [args]\n"
           "  preload [payload] | credentials [payload] | play\n"
           "  chat <text>\n"
           "  enumerate installed | enumerate uninstallable | enumerate latest [request]\n"
           "  install <v> | install progress | install cancel\n"
           "  uninstall <v> | uninstall progress | uninstall cancel\n"
           "  preview <v> | preview progress | size\n"
           "  kill game | send <TYPE> [payload]\n"
           "  wait <TYPE> [timeout-seconds] [text]   (default 60 s; text: payload must contain it)\n"
           "  sleep <seconds>\n"
           "  close                                   (CLOSE, then quit; must be last)\n"
           "TYPE: a message type name, with or without VANTRELMESSAGETYPE_, or its number.\n"
           "Lines that are blank or start with '#' are skipped.\n"
           "\n"
           "exit status: 0 commands done and the run closed; 1 bad command line or\n"
           "script; 2 cannot connect; 3 a command failed (a wait timed out); 4 the\n"
           "launcher went away; 5 the launcher closed the run before the script ended.\n";
}

}  // namespace DruxAir
