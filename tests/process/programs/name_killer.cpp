// A stand-in program for the process tests. With the argument "wait" it stays
// up to 30 s; with "kill" it kills every process named like its own executable
// by name, then writes "survived" to "<own executable>.<own id>.out" and ends.
#include <limits.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "VantrelProcessHelper.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "kill") == 0) {
        char self[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) return 1;
        self[n] = '\0';
        VantrelProcessHelper_KillProcessByName(self);
        const std::string report = std::string(self) + "." + std::to_string(getpid()) + ".out";
        FILE* file = std::fopen(report.c_str(), "wb");
        if (file == nullptr) return 1;
        std::fputs("survived\n", file);
        std::fclose(file);
        return 0;
    }
    timespec pause{30, 0};
    while (nanosleep(&pause, &pause) != 0) {
    }
    return 0;
}
