// The real programs as separate processes: whole launcher runs (the launcher
// host, the stand-in AIR client and game, the sample patch library) and each
// program's refusal of bad input. Every run has a fresh temporary directory
// with copies of the programs, which note what they do in its timeline file.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

namespace {
namespace fs = std::filesystem;

const char* const kPrograms[] = {"drux-launcher", "KyrCLient.exe", "drux-game", "patcher.dll"};

std::string readFile(const std::string& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}

bool eventually(const std::function<bool()>& condition, int seconds = 20) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A socket listening on the loopback port, bound as the library binds; -1 when the port is taken.
int listenOn(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, 1) == 0) return fd;
    close(fd);
    return -1;
}

// Whether the process runs one of the programs (a zombie has no executable any more), so
// that a recycled pid is never taken for ours.
bool programRunning(pid_t pid) {
    std::error_code error;
    const std::string exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error).filename();
    return std::find(std::begin(kPrograms), std::end(kPrograms), exe) != std::end(kPrograms);
}

// A child's exit status (128 + signal when killed), or -1 when it has not ended in time.
int waitChild(pid_t pid, int seconds) {
    int status = 0;
    pid_t done = 0;
    eventually([&] { return (done = waitpid(pid, &status, WNOHANG)) != 0; }, seconds);
    if (done != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class LauncherRun {
public:
    LauncherRun() {
        std::string pattern = (fs::temp_directory_path() / "drux-apps-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        for (const char* program : kPrograms) fs::copy_file(fs::path(DRUX_APPS_DIR) / program, file(program));
        // Launcher, AIR and game ports and a spare one, below the kernel's ephemeral ports
        // (32768 and up), so that no outgoing connection takes one before the launcher listens.
        std::mt19937 random(std::random_device{}());
        for (int attempt = 0; ports_.size() < 4 && attempt < 1000; ++attempt) {
            const int port = 20000 + static_cast<int>(random() % 12000), fd = listenOn(port);
            if (fd >= 0 && std::find(ports_.begin(), ports_.end(), port) == ports_.end()) ports_.push_back(port);
            if (fd >= 0) close(fd);
        }
        if (ports_.size() < 4) throw std::runtime_error("no free ports");
        // What the programs inherit: the timeline, the AIR client's script, start pauses
        // shortened to a fraction of a second, and where sanitizers report.
        setenv("DRUX_TIMELINE", file("timeline.tsv").c_str(), 1);
        setenv("DRUX_AIR_SCRIPT", file("run.air").c_str(), 1);
        // The figures reach the programs through the test build of the library.
        setenv("DRUX_FIGURES", "processStartPauseMs=100,processExitWaitMs=3000", 1);
        setenv("LD_LIBRARY_PATH", DRUX_TEST_SEAMS_DIR, 1);
        setenv("DRUX_PATCHER_ROOT", file("versions").c_str(), 1);
        for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            const char* old = std::getenv(name);
            setenv(name, (std::string(old ? old : "") + ":log_path=" + file("sanitizer")).c_str(), 1);
        }
    }
    // Kills whatever the run left running; keeps the directory when DRUX_KEEP_RUNS is set.
    ~LauncherRun() {
        for (pid_t pid : running()) kill(pid, SIGKILL);
        if (launcher_ > 0 && status_ < 0) {
            kill(launcher_, SIGKILL);
            waitChild(launcher_, 10);
        }
        std::error_code ignored;
        if (std::getenv("DRUX_KEEP_RUNS") == nullptr) fs::remove_all(dir_, ignored);
    }

    std::string file(const std::string& name) const { return dir_ + "/" + name; }
    int port(int i) const { return ports_[i]; }
    void setScript(const std::string& text) const { std::ofstream(file("run.air"), std::ios::trunc) << text; }
    // The text with "{ports}" (the launcher's three port options), "{0}".."{3}" and "{dir}" filled in.
    std::string expand(std::string text) const {
        const auto fill = [&text](const std::string& what, const std::string& with) {
            for (size_t at; (at = text.find(what)) != std::string::npos;) text.replace(at, what.size(), with);
        };
        fill("{ports}", "--launcher-port {0} --air-port {1} --game-port {2}");
        for (int i = 0; i < 4; ++i) fill("{" + std::to_string(i) + "}", std::to_string(ports_[i]));
        fill("{dir}", dir_);
        return text;
    }

    void start(const std::vector<std::string>& extraOptions = {}) {
        std::vector<std::string> args = words(expand("{ports}"));
        args.insert(args.end(), extraOptions.begin(), extraOptions.end());
        launcher_ = spawn("drux-launcher", args, file("launcher.out"));
    }
    // Runs a program to its end; its exit status, with its output in *output.
    int runProgram(const std::string& program, const std::string& arguments, std::string* output) const {
        const pid_t pid = spawn(program, words(expand(arguments)), file(program + ".out"));
        const int status = waitChild(pid, 20);
        if (status < 0) {
            kill(pid, SIGKILL);
            waitChild(pid, 10);
        }
        *output = readFile(file(program + ".out"));
        return status;
    }
    int waitForExit(int seconds = 30) { return status_ = waitChild(launcher_, seconds); }
    void signalLauncher(int number) const { kill(launcher_, number); }

    // The texts that one program noted, in the order they were written.
    std::vector<std::string> notes(const std::string& who) const {
        std::vector<std::string> found;
        std::istringstream lines(readFile(file("timeline.tsv")));
        for (std::string line; std::getline(lines, line);)
            if (const size_t at = line.find("\t" + who + "\t"); at != std::string::npos)
                found.push_back(line.substr(at + who.size() + 2));
        return found;
    }
    bool noted(const std::string& who, const std::string& text) const {
        for (const std::string& note : notes(who))
            if (note.find(text) != std::string::npos) return true;
        return false;
    }
    std::vector<pid_t> pidsOf(const std::string& who) const {
        std::vector<pid_t> pids;
        for (const std::string& note : notes(who))
            if (note.rfind("pid ", 0) == 0) pids.push_back(std::atoi(note.c_str() + 4));
        return pids;
    }
    // The noted programs that still run, and the launcher until it has been waited for.
    std::vector<pid_t> running() const {
        std::vector<pid_t> found;
        for (const char* who : {"launcher", "air-client", "game"})
            for (pid_t pid : pidsOf(who))
                if (programRunning(pid)) found.push_back(pid);
        if (status_ < 0 && launcher_ > 0 && programRunning(launcher_)) found.push_back(launcher_);
        return found;
    }
    std::string sanitizerReports() const {
        std::string reports;
        for (const auto& entry : fs::directory_iterator(dir_))
            if (entry.path().filename().string().rfind("sanitizer", 0) == 0) reports += readFile(entry.path());
        return reports;
    }

private:
    static std::vector<std::string> words(const std::string& text) {
        std::istringstream in(text);
        std::vector<std::string> out;
        for (std::string word; in >> word;) out.push_back(word);
        return out;
    }
    pid_t spawn(const std::string& program, std::vector<std::string> args, const std::string& output) const {
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const std::string path = file(program);
        const pid_t pid = fork();
        if (pid == 0) {
            const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), in = open("/dev/null", O_RDONLY);
            if (out < 0 || in < 0 || chdir(dir_.c_str()) != 0) _exit(126);
            dup2(in, 0);
            dup2(out, 1);
            dup2(out, 2);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
        return pid;
    }

    std::string dir_;
    std::vector<int> ports_;
    pid_t launcher_ = -1;
    int status_ = -1;
};

using Notes = std::vector<std::pair<const char*, const char*>>;  // who noted what ("{...}" filled in)
enum class Action { None, KillAirClient, KillGame, Interrupt };

struct RunCase {
    const char* name;
    const char* script;
    const char* figures = "processStartPauseMs=100,processExitWaitMs=3000";
    std::vector<std::string> options = {};  // the launcher's, besides the ports
    Notes before = {};                      // waited for before the action
    Action action = Action::None;
    Notes notYet = {};  // launcher notes that must not have been written once the action took effect
    int status = 0;
    Notes expected = {};
    Notes absent = {};
    const char* leftFile = nullptr;  // that the run must leave
    bool complete = false;           // the script passes; the exit callback, and no error, ends the run
};

void PrintTo(const RunCase& run, std::ostream* out) { *out << run.name; }

class LauncherRunTest : public ::testing::TestWithParam<RunCase> {
protected:
    void TearDown() override {
        if (HasFailure())
            std::printf("timeline:\n%s\nlauncher output:\n%s\n", readFile(run.file("timeline.tsv")).c_str(),
                        readFile(run.file("launcher.out")).c_str());
    }
    LauncherRun run;
};

// Every run ends with the controller removed, nothing left running and no sanitizer report.
TEST_P(LauncherRunTest, TheRunEndsAsItsEventsDemandAndLeavesNothingBehind) {
    const RunCase& c = GetParam();
    setenv("DRUX_FIGURES", c.figures, 1);
    run.setScript(c.script);
    run.start(c.options);
    for (const auto& [who, text] : c.before)
        ASSERT_TRUE(eventually([&] { return run.noted(who, text); })) << who << ": " << text;
    if (c.action == Action::Interrupt) run.signalLauncher(SIGINT);
    if (c.action == Action::KillAirClient || c.action == Action::KillGame) {
        const std::vector<pid_t> pids = run.pidsOf(c.action == Action::KillGame ? "game" : "air-client");
        ASSERT_EQ(pids.size(), 1u);
        kill(pids[0], SIGKILL);
        ASSERT_TRUE(eventually([&] { return !programRunning(pids[0]); }));
    }
    for (const auto& [who, text] : c.notYet) ASSERT_FALSE(run.noted(who, text)) << who << ": " << text;
    ASSERT_EQ(run.waitForExit(), c.status);
    for (const auto& [who, text] : c.expected)
        EXPECT_TRUE(run.noted(who, run.expand(text))) << who << ": " << text;
    for (const auto& [who, text] : c.absent) EXPECT_FALSE(run.noted(who, text)) << who << ": " << text;
    if (c.leftFile != nullptr) {
        EXPECT_TRUE(fs::exists(run.file(c.leftFile)));
    }
    if (c.complete) {
        EXPECT_TRUE(run.noted("air-client", "script passed"));
        EXPECT_TRUE(run.noted("launcher", "exit callback"));
        EXPECT_FALSE(run.noted("launcher", "error callback"));
    }
    EXPECT_TRUE(run.noted("launcher", "removed the controller"));
    EXPECT_TRUE(eventually([&] { return run.running().empty(); }, 10));
    EXPECT_EQ(run.sanitizerReports(), "");
}

const char* const kLongStart = "processStartPauseMs=3000,processExitWaitMs=3000";
const char* const kEndlessStart = "processStartPauseMs=600000,processExitWaitMs=3000";

INSTANTIATE_TEST_SUITE_P(
    Programs, LauncherRunTest,
    ::testing::Values(
        // Chat goes both ways; the game stops on "/quit".
        RunCase{.name = "Ordinary",
            .script = "create game first second\nwait LAUNCHED 20\nwait CONNECTED_TO_SERVER 20\nchat hello game\n"
                      "wait CHATMESSAGE_FROM_GAME 10 echo: hello game\nchat /quit\nwait STOPPED 20\nclose\n",
            .expected = {{"game", "ordinary start, game port {2}, arguments \"first second\""},
                         {"game", "<- launcher  CHATMESSAGE_TO_GAME \"hello game\""}},
            .complete = true},
        // The patch library installs a version (the game and the library it loads) that is then started.
        RunCase{.name = "Version",
            .script = "enumerate latest\nwait ENUMERATE_LATEST_VERSIONS 10 [\"2.0.0\",\"1.1.0\",\"1.0.0\"]\n"
                      "install 1.1.0\ninstall progress\nwait INSTALL_PROGRESS 10 \"state\":\"complete\"\n"
                      "enumerate installed\nwait ENUMERATE_INSTALLED_VERSIONS 10 [\"1.1.0\"]\n"
                      "create version 1.1.0 with args\nwait CONNECTED_TO_SERVER 20\nchat /quit\nwait STOPPED 20\n"
                      "close\n",
            .expected = {{"game", "started from {dir}/versions/1.1.0/drux-game"}, {"game", "arguments \"with args\""}},
            .leftFile = "versions/1.1.0/libDruxLauncher.so.1", .complete = true},
        // The preloaded game takes the credentials and the play text from the AIR port.
        RunCase{.name = "Preload",
            .script = "preload abc def\nwait INITIAL_PRELOAD_COMPLETE 20\ncredentials user=demo\n"
                      "wait UPDATE_PLAYER_CONNECTION 10 player connected: user=demo\nplay\n"
                      "wait GAME_LOADING_COMPLETE 10\nwait CONNECTED_TO_SERVER 10\nchat /quit\nwait STOPPED 20\n"
                      "close\n",
            .expected = {{"game", "preloaded, game port {2}, payload \"abc def\""},
                         {"game", "credentials (AIR port): game port {2}"}, {"game", "args \"user=demo\""}},
            .complete = true},
        RunCase{.name = "AirClientKilledMidRun",
            .script = "create game\nwait CONNECTED_TO_SERVER 20\nchat /quit\nwait STOPPED 20\n",
            .before = {{"air-client", "script passed"}}, .action = Action::KillAirClient, .status = 2,
            .expected = {{"launcher",
                          "error callback: VANTRELERRORTYPE_AIRHEARTBEAT: Contact with Air lost version 2."},
                         {"launcher", "exit callback"}}},
        RunCase{.name = "GameKilledMidRun",
            .script = "create game\nwait CONNECTED_TO_SERVER 20\nwait CRASHED 20\nclose\n",
            .before = {{"game", "-> launcher  GAMECLIENT_CONNECTED_TO_SERVER"}, {"launcher", "supervising the run"}},
            .action = Action::KillGame,
            .expected = {{"air-client", "<- launcher  GAMECLIENT_CRASHED"}, {"air-client", "script passed"}}},
        // Killed at once, while the launcher is still starting the AIR client: the
        // game is gone before the host's first poll, which reports it all the same.
        RunCase{.name = "GameKilledBeforeTheFirstPoll", .script = "create game\nwait CRASHED 30\nclose\n",
            .figures = kLongStart, .before = {{"game", "pid "}}, .action = Action::KillGame,
            .notYet = {{"launcher", "supervising the run"}},  // the start still pauses
            .expected = {{"air-client", "<- launcher  GAMECLIENT_CRASHED"}, {"air-client", "script passed"}}},
        // The commands travel on the AIR client's command line; the AIR client
        // answers the launcher's CLOSE, which closes the game too.
        RunCase{.name = "CtrlC", .script = "",
            .options = {"--air-args", "--commands \"create game; wait CONNECTED_TO_SERVER 20\""},
            .before = {{"air-client", "script passed: 2 commands"}}, .action = Action::Interrupt, .status = 130,
            .expected = {{"air-client", "started, script --commands"},
                         {"air-client", "the launcher closed the run; answering CLOSE"},
                         {"game", "<- launcher  CLOSE"}, {"game", "-> launcher  GAMECLIENT_STOPPED"}}},
        // Pauses of ten minutes: only the cut can end the start, so the run ending
        // at all shows that the signal was acted on during the start.
        RunCase{.name = "CtrlCDuringTheStart", .script = "", .figures = kEndlessStart,
            .before = {{"air-client", "connected to the launcher's AIR port"}}, .action = Action::Interrupt,
            .status = 130,
            .expected = {{"launcher", "SIGINT during the start: cutting it short"},
                         {"air-client", "the launcher closed the run; answering CLOSE"}, {"launcher", "exit callback"}},
            .absent = {{"launcher", "supervising the run"}}}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

TEST(LauncherRun, EveryProgramRefusesBadInputWithAClearMessageAndExitStatus) {
    LauncherRun run;
    const struct {
        const char* program;
        const char* arguments;  // "{...}" filled in, split at blanks
        const char* script;
        int status;
        const char* message;
    } cases[] = {
        {"drux-launcher", "--air-port 70000", "", 1, "\"70000\" is not a port"},
        {"drux-launcher", "--frobnicate", "", 1, "unknown option \"--frobnicate\""},
        {"drux-launcher", "--launcher-port {3} --air-port {1} --game-port {2}", "", 1,
         "cannot listen on the launcher port {3}"},
        {"drux-launcher", "{ports} --game-path {dir}/no-such-game --verify", "", 1,
         "VANTRELERRORTYPE_GENERIC: One or more of the required applications could not be found."},
        {"drux-launcher", "{ports} --air-path {dir}/no-such-air-client", "", 1,
         "VANTRELERRORTYPE_AIRPROCESSSTART: Unable to start air."},
        {"KyrCLient.exe", "-- {1}", "create game\nfly away\n", 1, "line 2: unknown command \"fly\""},
        {"KyrCLient.exe", "-- {1} --script {dir}/missing.air", "", 1, "cannot read script file"},
        {"KyrCLient.exe", "-runtime .\\ -nodebug", "", 1, "missing \"-- <port>\""},
        {"KyrCLient.exe", "-- {1} stray", "", 1, "unexpected argument \"stray\" after the port"},
        {"KyrCLient.exe", "--script a --commands b -- {1}", "", 1, "--script and --commands exclude each other"},
        {"KyrCLient.exe", "-- {1}", "create game\n", 2, "cannot connect to 127.0.0.1:{1}"},
        {"drux-game", "12 only-two", "", 1, "got 2 arguments"},
        {"drux-game", "0 /l /a x", "", 1, "the game port \"0\" is not a port (1..65535)"},
        {"drux-game", "game_client_preload x 99999 {2}", "", 1, "the AIR port \"99999\" is not a port"},
        {"drux-game", "{2} /l /a x", "", 2, "cannot connect to the launcher's game port {2}"},
    };
    const int held = listenOn(run.port(3));  // the port in use
    ASSERT_GE(held, 0);
    for (const auto& c : cases) {
        run.setScript(c.script);
        std::string output;
        EXPECT_EQ(run.runProgram(c.program, c.arguments, &output), c.status) << c.program << " " << c.arguments;
        EXPECT_NE(output.find(run.expand(c.message)), std::string::npos) << c.arguments << ":\n" << output;
    }
    close(held);
    EXPECT_EQ(run.running(), std::vector<pid_t>{});
}

}  // namespace
