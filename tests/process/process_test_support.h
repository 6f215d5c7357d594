// Stand-in programs for the tests that start processes: copies under unique
// names, their reports, and clean-up of exactly the processes a test started.
#pragma once

#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/figures.h"
#include "core/platform/process.h"
#include "process/process_helper.h"
#include "support/test_support.h"

namespace ProcessTest {

// A name no other test run uses at the same time.
inline std::string uniqueName(const std::string& stem) {
    static std::atomic<int> counter{0};
    return stem + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

inline std::string installProgram(const std::string& program, const std::string& path) {
    namespace fs = std::filesystem;
    fs::create_directories(fs::path(path).parent_path());
    fs::copy_file(program, path, fs::copy_options::overwrite_existing);
    return path;
}

// A probe's "key=value" lines, values in order.
struct Report {
    std::map<std::string, std::vector<std::string>> values;
    std::string value(const std::string& key) { return values[key].empty() ? "" : values[key].front(); }
    std::vector<std::string> all(const std::string& key) { return values[key]; }
};

inline Report waitForReport(const std::string& path) {
    Report report;
    DruxTest::waitUntil([&] { return std::filesystem::exists(path); });
    const std::string text = DruxTest::readFile(path);
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals != std::string::npos) report.values[line.substr(0, equals)].push_back(line.substr(equals + 1));
    }
    return report;
}

// Whether this test program has a child process, a zombie included.
inline bool hasChildren() {
    int status = 0;
    return waitpid(-1, &status, WNOHANG) != -1 || errno != ECHILD;
}

inline bool endsSoon(Drux::ProcessId id) {
    return DruxTest::waitUntil([&] { return !Drux::processIsRunning(id); });
}

// Whether every piece occurs in text, each after the previous one.
inline bool appearInOrder(const std::string& text, const std::vector<std::string>& pieces) {
    size_t at = 0;
    for (const std::string& piece : pieces) {
        at = text.find(piece, at);
        if (at == std::string::npos) return false;
        at += piece.size();
    }
    return true;
}

// Kills the processes a test started that still run under the name they were started with.
class StartedProcesses {
public:
    ~StartedProcesses() { stopAll(); }
    void stopAll() {
        for (const auto& [id, name] : started_) {
            char current[320];
            if (Drux::processIsRunning(id) && Drux::processExecutableName(id, current, sizeof current) &&
                name == current)
                Drux::terminateProcess(id);
        }
        started_.clear();
    }
    bool contains(Drux::ProcessId id) const {
        for (const auto& entry : started_)
            if (entry.first == id) return true;
        return false;
    }
    void add(Drux::ProcessId id, const std::string& path) {
        started_.emplace_back(id, std::filesystem::path(path).filename().string());
    }
    Drux::ProcessId launch(const std::string& path, const std::string& arguments = std::string()) {
        Drux::ProcessId id = 0;
        const std::string line = "\"" + path + "\" " + arguments;
        EXPECT_TRUE(Drux::launchProcess(path.c_str(), line.c_str(), nullptr, &id)) << path;
        add(id, path);
        return id;
    }

private:
    std::vector<std::pair<Drux::ProcessId, std::string>> started_;
};

// Whether an AIR client that this test did not start runs on the machine (the
// AIR client search is machine-wide, so such a test cannot judge its result).
inline bool foreignAirClientRuns(const StartedProcesses& started) {
    Drux::ProcessId ids[4096];
    const size_t count = Drux::enumerateProcesses(ids, 4096);
    for (size_t i = 0; i < count; ++i) {
        char name[320];
        if (started.contains(ids[i]) || !Drux::processIsRunning(ids[i]) ||
            !Drux::processExecutableName(ids[i], name, sizeof name))
            continue;
        if (strcasecmp(name, "KyrCLient.exe") == 0) return true;
    }
    return false;
}

class Fixture : public DruxTest::LoggedTest {
protected:
    void SetUp() override {
        LoggedTest::SetUp();
        Drux::testing::figures().processStartPauseMs = 1;
    }
    void TearDown() override {
        started.stopAll();
        if (ProcessHelperState() != nullptr) VantrelProcessHelper_Remove();
        SetRegisteredHwnd(nullptr);
        LoggedTest::TearDown();
    }
    std::string path(const std::string& relative) { return directory()->file(relative); }
    std::string install(const char* program, const std::string& relative) {
        return installProgram(program, path(relative));
    }
    StartedProcesses started;
};

}  // namespace ProcessTest
