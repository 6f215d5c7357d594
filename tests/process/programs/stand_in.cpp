// The program that the process, game and launcher tests start in place of the
// AIR client, the game and other programs. Each start appends one record to
// "<own executable>.run": "pid", "cwd", "fds" (descriptors it inherited besides
// the standard three), "argv0", one "arg" per further argument, then "end".
// With the argument "kill" it first kills every process named like itself by
// name (so its record shows that it survived) and ends; with "lifetime=<ms>" it
// ends after that long, creating "<own executable>.exited"; otherwise it stays
// for at most 60 s, until it is killed.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "VantrelProcessHelper.h"

int main(int argc, char** argv) {
    int descriptors = 0;
    DIR* directory = opendir("/proc/self/fd");
    while (const dirent* entry = directory != nullptr ? readdir(directory) : nullptr)
        descriptors += std::atoi(entry->d_name) > 2 && std::atoi(entry->d_name) != dirfd(directory) ? 1 : 0;
    if (directory != nullptr) closedir(directory);
    char self[PATH_MAX] = {}, cwd[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0 || getcwd(cwd, sizeof cwd) == nullptr) return 1;
    const bool kill = argc > 1 && std::strcmp(argv[1], "kill") == 0;
    if (kill) VantrelProcessHelper_KillProcessByName(self);

    std::string text = "pid " + std::to_string(getpid()) + "\ncwd " + cwd + "\nfds " + std::to_string(descriptors) +
                       "\nargv0 " + argv[0] + "\n";
    for (int i = 1; i < argc; ++i) text += std::string("arg ") + argv[i] + "\n";
    text += "end\n";
    const int fd = open((std::string(self) + ".run").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) || kill) return 0;

    long lifetimeMs = 60000;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "lifetime=", 9) == 0) lifetimeMs = std::atol(argv[i] + 9);
    std::this_thread::sleep_for(std::chrono::milliseconds(lifetimeMs));
    if (lifetimeMs < 60000) close(open((std::string(self) + ".exited").c_str(), O_WRONLY | O_CREAT, 0644));
    return 0;
}
