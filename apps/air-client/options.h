// The stand-in AIR client's command line. The launcher starts it as
//   KyrCLient.exe -runtime .\ -nodebug META-INF\AIR\application.xml .\ -- <airPort>[ extra]
// Everything before "--" belongs to the AIR runtime and is accepted and
// ignored; the number after "--" is the launcher's AIR port; the extra
// arguments (the launcher's --air-args) are this program's options.
#pragma once

#include <string>

namespace DruxAir {

struct Options {
    int port = 0;
    std::string scriptFile;  // --script FILE
    std::string commands;    // --commands "cmd; cmd"
    bool haveCommands = false;
    std::string logTag = "air";      // --log-tag TAG: log file vantrel-TAG.log
    bool startedByLauncher = false;  // the AIR runtime's "-runtime" was given
    bool help = false;
};

bool parseOptions(int argc, char** argv, Options* options, std::string* error);
const char* usageText();

}  // namespace DruxAir
