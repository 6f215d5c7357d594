#include "stub_record.h"

#include <limits.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

void RecordRun(int argc, char** argv) {
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return;
    char cwd[PATH_MAX] = {};
    if (getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '\0';

    std::string block = "pid " + std::to_string(getpid()) + "\ncwd " + cwd + "\n";
    for (int i = 1; i < argc; ++i) block += std::string("arg ") + argv[i] + "\n";
    block += "end\n";

    const std::string path = std::string(self, static_cast<size_t>(length)) + ".run";
    if (FILE* file = std::fopen(path.c_str(), "a")) {
        std::fwrite(block.data(), 1, block.size(), file);
        std::fclose(file);
    }
}

void WaitToBeKilled(int seconds) { std::this_thread::sleep_for(std::chrono::seconds(seconds)); }
