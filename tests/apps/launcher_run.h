// One launcher run of the real programs, as separate processes, in a fresh
// temporary directory that holds copies of the launcher, the two stand-ins and
// the patch library. The programs note what they do in the directory's
// timeline file; the run reads it back.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace DruxAppTest {

// The start pauses shortened so that a start takes a fraction of a second.
constexpr const char kShortFigures[] = "processStartPauseMs=100,processExitWaitMs=3000";

struct TimelineEntry {
    long long ms = 0;
    std::string who;
    std::string text;
};

// Distinct loopback ports that are free now.
std::vector<int> freePorts(int count);

class LauncherRun {
public:
    LauncherRun();
    // Kills whatever the run left running and removes the directory (kept
    // when the environment variable DRUX_KEEP_RUNS is set, for a look).
    ~LauncherRun();
    LauncherRun(const LauncherRun&) = delete;
    LauncherRun& operator=(const LauncherRun&) = delete;

    const std::string& dir() const { return dir_; }
    std::string file(const std::string& name) const { return dir_ + "/" + name; }
    const std::vector<int>& ports() const { return ports_; }  // launcher, AIR, game
    // The AIR client's script, given through DRUX_AIR_SCRIPT.
    void setScript(const std::string& text);

    // Starts the launcher with the run's ports and any extra options.
    void start(const std::vector<std::string>& extraOptions = {});
    // Runs a program of the run's directory to its end (for bad-input checks);
    // returns its exit status, with its output in *output.
    int runProgram(const std::string& program, const std::vector<std::string>& arguments, std::string* output,
                   int timeoutSeconds = 20);
    // The launcher's exit status (128 + signal when killed), or -1 on time-out.
    int waitForExit(int timeoutSeconds = 30);
    void signalLauncher(int signalNumber);

    std::vector<TimelineEntry> timeline() const;
    std::string timelineText() const;  // sorted, one "who: text" per line
    bool noted(const std::string& who, const std::string& text) const;
    bool waitForNote(const std::string& who, const std::string& text, int timeoutSeconds = 20) const;
    // The pids that the programs noted ("pid N ..."), per program name.
    std::vector<pid_t> pidsOf(const std::string& who) const;
    // Whether any process of the run (launcher, AIR client, game) still runs.
    bool anyProgramRunning() const;
    // Sanitizer reports that the programs wrote (their output goes nowhere).
    std::string sanitizerReports() const;
    std::string launcherOutput() const;

private:
    std::string dir_;
    std::vector<int> ports_;
    pid_t launcher_ = -1;
    int launcherStatus_ = -1;
};

// Whether the process runs (exists and is not a zombie) with one of our
// programs' executables.
bool programRunning(pid_t pid);

}  // namespace DruxAppTest
