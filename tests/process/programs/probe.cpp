// A stand-in program for the process tests. It writes what it was started
// with (identifier, working directory, arguments, standard input, session,
// descriptors it inherited) to a report file, "<own executable>.out" or the
// file named by DRUX_PROBE_OUTPUT, then stays until it is killed or its
// lifetime ends (30 s, or the argument "lifetime=<ms>"), when it writes
// "<report>.done".
#include <dirent.h>
#include <limits.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string readLink(const char* path) {
    char target[PATH_MAX];
    const ssize_t n = readlink(path, target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

int inheritedDescriptors() {
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] == '.') continue;
        const int fd = std::atoi(entry->d_name);
        if (fd > 2 && fd != dirfd(directory)) ++count;
    }
    closedir(directory);
    return count;
}

bool writeWhole(const std::string& path, const std::string& text) {
    const std::string part = path + ".part";
    FILE* file = std::fopen(part.c_str(), "wb");
    if (file == nullptr) return false;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    return std::rename(part.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int descriptors = inheritedDescriptors();
    const char* named = std::getenv("DRUX_PROBE_OUTPUT");
    const std::string report = named != nullptr && named[0] != '\0' ? named : readLink("/proc/self/exe") + ".out";
    long lifetimeMs = 30000;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "lifetime=", 9) == 0) lifetimeMs = std::atol(argv[i] + 9);

    char cwd[PATH_MAX] = {};
    if (getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '\0';
    std::string text;
    text += "pid=" + std::to_string(getpid()) + "\n";
    text += "cwd=" + std::string(cwd) + "\n";
    text += "stdin=" + readLink("/proc/self/fd/0") + "\n";
    text += "session_leader=" + std::string(getsid(0) == getpid() ? "1" : "0") + "\n";
    text += "inherited_descriptors=" + std::to_string(descriptors) + "\n";
    text += "argc=" + std::to_string(argc) + "\n";
    for (int i = 0; i < argc; ++i) text += "argv=" + std::string(argv[i]) + "\n";
    if (!writeWhole(report, text)) return 1;

    timespec pause{lifetimeMs / 1000, (lifetimeMs % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0) {
    }
    writeWhole(report + ".done", "done\n");
    return 0;
}
