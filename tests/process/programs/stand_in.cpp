// The program that the process, game, launcher and platform tests start in
// place of the AIR client, the game and other programs. Each start appends one
// record to "<own executable>.run": "pid", "cwd", "fds" (descriptors it
// inherited besides the standard three; "n/a" where the system cannot count
// them), "argv0", one "arg" per further argument, then "end".
// With the argument "kill" it first kills every process named like itself by
// name (so its record shows that it survived) and ends; with "marker" it adds
// "marker 1" when it could create the launcher marker, "marker 0" when another
// process holds it, and ends; with "lifetime=<ms>" it ends after that long,
// creating "<own executable>.exited"; otherwise it stays for at most 60 s,
// until it is killed.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "VantrelProcessHelper.h"
#include "core/platform/paths.h"
#include "core/platform/process.h"
#include "core/platform/shared_mutex.h"
#include "inherited.h"

int main(int argc, char** argv) {
    const int descriptors = inheritedDescriptorCount();
    char self[4096] = {}, cwd[4096] = {};
    if (!Drux::hostExecutablePath(self, sizeof self) || !Drux::currentDirectory(cwd, sizeof cwd)) return 1;
    const bool kill = argc > 1 && std::strcmp(argv[1], "kill") == 0;
    const bool marker = argc > 1 && std::strcmp(argv[1], "marker") == 0;
    if (kill) VantrelProcessHelper_KillProcessByName(self);

    std::string text = "pid " + std::to_string(Drux::currentProcessId()) + "\ncwd " + cwd + "\nfds " +
                       (descriptors < 0 ? std::string("n/a") : std::to_string(descriptors)) + "\nargv0 " + argv[0] +
                       "\n";
    for (int i = 1; i < argc; ++i) text += std::string("arg ") + argv[i] + "\n";
    if (marker) text += std::string("marker ") + (Drux::createSharedMutex()->hasHandle() ? "1" : "0") + "\n";
    text += "end\n";
    {
        // One write of the whole record.
        std::ofstream record(std::string(self) + ".run", std::ios::binary | std::ios::app);
        record.write(text.data(), static_cast<std::streamsize>(text.size()));
        record.flush();
        if (!record || kill || marker) return 0;
    }

    long lifetimeMs = 60000;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "lifetime=", 9) == 0) lifetimeMs = std::atol(argv[i] + 9);
    std::this_thread::sleep_for(std::chrono::milliseconds(lifetimeMs));
    if (lifetimeMs < 60000) std::ofstream(std::string(self) + ".exited");
    return 0;
}
