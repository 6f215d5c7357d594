#include "launcher_run.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace DruxAppTest {
namespace fs = std::filesystem;

namespace {

const char* const kPrograms[] = {"drux-launcher", "KyrCLient.exe", "drux-game", "patcher.dll"};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The environment of a program of the run: its timeline, script, figures and
// where sanitizers write their reports.
std::vector<std::string> runEnvironment(const std::string& dir) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    auto set = [&env](const std::string& name, const std::string& value) {
        for (std::string& entry : env)
            if (entry.rfind(name + "=", 0) == 0) {
                entry = name + "=" + value;
                return;
            }
        env.push_back(name + "=" + value);
    };
    set("DRUX_TIMELINE", dir + "/timeline.tsv");
    set("DRUX_AIR_SCRIPT", dir + "/run.air");
    set("DRUX_FIGURES", kShortFigures);
    set("DRUX_PATCHER_ROOT", dir + "/versions");
    for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        const char* old = std::getenv(name);
        set(name, std::string(old ? old : "") + (old && *old ? ":" : "") + "log_path=" + dir + "/sanitizer");
    }
    return env;
}

pid_t spawn(const std::string& dir, const std::string& program, const std::vector<std::string>& arguments,
            const std::string& outputFile) {
    std::vector<std::string> env = runEnvironment(dir);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string path = dir + "/" + program;
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || in < 0 || chdir(dir.c_str()) != 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        execve(path.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (pid < 0) throw std::runtime_error("fork failed");
    return pid;
}

// Waits for a child of ours; its exit status, 128 + signal, or -1 on time-out.
int waitChild(pid_t pid, int timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0) return -1;
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

std::vector<int> freePorts(int count) {
    // Below the kernel's range of ephemeral ports (32768 and up here), so that
    // no outgoing connection of a concurrent program takes one of them before
    // the launcher listens; each is checked by binding it as the library does.
    constexpr int kLowest = 20000, kRange = 12000;
    std::random_device seed;
    std::mt19937 random(seed());
    std::vector<int> ports;
    for (int attempt = 0; static_cast<int>(ports.size()) < count && attempt < 1000; ++attempt) {
        const int port = kLowest + static_cast<int>(random() % kRange);
        if (std::find(ports.begin(), ports.end(), port) != ports.end()) continue;
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) ports.push_back(port);
        if (fd >= 0) close(fd);
    }
    if (static_cast<int>(ports.size()) < count) throw std::runtime_error("no free ports");
    return ports;
}

bool programRunning(pid_t pid) {
    if (pid <= 0) return false;
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    if (paren == std::string::npos || paren + 2 >= stat.size() || stat[paren + 2] == 'Z') return false;
    char exe[4096] = {};
    const ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), exe, sizeof exe - 1);
    if (n <= 0) return false;
    const std::string name = fs::path(std::string(exe, static_cast<size_t>(n))).filename().string();
    return std::find(std::begin(kPrograms), std::end(kPrograms), name) != std::end(kPrograms);
}

LauncherRun::LauncherRun() {
    std::string pattern = (fs::temp_directory_path() / "drux-apps-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    for (const char* program : kPrograms)
        fs::copy_file(fs::path(DRUX_APPS_DIR) / program, fs::path(dir_) / program);
    ports_ = freePorts(3);
    setScript("");
}

LauncherRun::~LauncherRun() {
    for (const std::string who : {"launcher", "air-client", "game"})
        for (pid_t pid : pidsOf(who))
            if (programRunning(pid)) kill(pid, SIGKILL);
    if (launcher_ > 0 && launcherStatus_ < 0) {
        kill(launcher_, SIGKILL);
        waitChild(launcher_, 10);
    }
    std::error_code ignored;
    if (std::getenv("DRUX_KEEP_RUNS") == nullptr) fs::remove_all(dir_, ignored);
}

void LauncherRun::setScript(const std::string& text) {
    std::ofstream(file("run.air"), std::ios::trunc) << text;
}

void LauncherRun::start(const std::vector<std::string>& extraOptions) {
    std::vector<std::string> args{"--launcher-port", std::to_string(ports_[0]), "--air-port",
                                  std::to_string(ports_[1]), "--game-port", std::to_string(ports_[2])};
    args.insert(args.end(), extraOptions.begin(), extraOptions.end());
    launcher_ = spawn(dir_, "drux-launcher", args, file("launcher.out"));
}

int LauncherRun::runProgram(const std::string& program, const std::vector<std::string>& arguments,
                            std::string* output, int timeoutSeconds) {
    const std::string outputFile = file(program + ".out");
    const pid_t pid = spawn(dir_, program, arguments, outputFile);
    int status = waitChild(pid, timeoutSeconds);
    if (status < 0) {
        kill(pid, SIGKILL);
        waitChild(pid, 10);
    }
    *output = readFile(outputFile);
    return status;
}

int LauncherRun::waitForExit(int timeoutSeconds) {
    launcherStatus_ = waitChild(launcher_, timeoutSeconds);
    return launcherStatus_;
}

void LauncherRun::signalLauncher(int signalNumber) { kill(launcher_, signalNumber); }

std::vector<TimelineEntry> LauncherRun::timeline() const {
    std::vector<TimelineEntry> entries;
    std::istringstream in(readFile(file("timeline.tsv")));
    std::string line;
    while (std::getline(in, line)) {
        const size_t tab1 = line.find('\t');
        const size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string::npos) continue;
        entries.push_back({std::atoll(line.substr(0, tab1).c_str()), line.substr(tab1 + 1, tab2 - tab1 - 1),
                           line.substr(tab2 + 1)});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TimelineEntry& a, const TimelineEntry& b) { return a.ms < b.ms; });
    return entries;
}

std::string LauncherRun::timelineText() const {
    std::string text;
    for (const TimelineEntry& e : timeline()) text += e.who + ": " + e.text + "\n";
    return text;
}

bool LauncherRun::noted(const std::string& who, const std::string& text) const {
    for (const TimelineEntry& e : timeline())
        if (e.who == who && e.text.find(text) != std::string::npos) return true;
    return false;
}

bool LauncherRun::waitForNote(const std::string& who, const std::string& text, int timeoutSeconds) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (!noted(who, text)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::vector<pid_t> LauncherRun::pidsOf(const std::string& who) const {
    std::vector<pid_t> pids;
    for (const TimelineEntry& e : timeline())
        if (e.who == who && e.text.rfind("pid ", 0) == 0) pids.push_back(std::atoi(e.text.c_str() + 4));
    return pids;
}

bool LauncherRun::anyProgramRunning() const {
    for (const std::string who : {"launcher", "air-client", "game"})
        for (pid_t pid : pidsOf(who))
            if (programRunning(pid)) return true;
    return launcherStatus_ < 0 && launcher_ > 0 && programRunning(launcher_);
}

std::string LauncherRun::sanitizerReports() const {
    std::string reports;
    for (const auto& entry : fs::directory_iterator(dir_))
        if (entry.path().filename().string().rfind("sanitizer", 0) == 0) reports += readFile(entry.path().string());
    return reports;
}

std::string LauncherRun::launcherOutput() const { return readFile(file("launcher.out")); }

}  // namespace DruxAppTest
