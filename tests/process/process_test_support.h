// Copies of the stand-in program, the records of their runs, and clean-up of
// exactly the processes a test started.
#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/platform/process.h"
#include "support/test_support.h"

namespace ProcessTest {

// A name no other test run uses at the same time.
inline std::string uniqueName(const std::string& stem) {
    static std::atomic<int> counter{0};
    return stem + "-" + std::to_string(Drux::currentProcessId()) + "-" + std::to_string(counter++);
}

inline std::string installStandIn(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::copy_file(DRUX_STAND_IN, path, std::filesystem::copy_options::overwrite_existing);
    return path;
}

// One start of the stand-in as it recorded it: its fields, and its arguments after argv[0].
struct Record {
    std::map<std::string, std::string> fields;
    std::vector<std::string> args;
    Drux::ProcessId pid() const { return static_cast<Drux::ProcessId>(std::stoul(fields.at("pid"))); }
};

// The program's complete records, once at least `count` are there.
inline std::vector<Record> runsOf(const std::string& program, size_t count = 1) {
    std::vector<Record> runs;
    DruxTest::waitUntil([&] {
        runs.assign(1, Record());
        std::istringstream in(DruxTest::readFile(program + ".run"));
        for (std::string line; std::getline(in, line);) {
            const size_t blank = std::min(line.find(' '), line.size());
            const std::string key = line.substr(0, blank), value = line.substr(std::min(blank + 1, line.size()));
            if (key == "end")
                runs.emplace_back();
            else if (key == "arg")
                runs.back().args.push_back(value);
            else
                runs.back().fields[key] = value;
        }
        runs.pop_back();
        return runs.size() >= count;
    });
    return runs;
}

inline bool endsSoon(Drux::ProcessId id) {
    return DruxTest::waitUntil([&] { return !Drux::processIsRunning(id); });
}

// Kills the processes a test started that still run under the name they were started with.
struct StartedProcesses {
    std::vector<std::pair<Drux::ProcessId, std::string>> started;
    ~StartedProcesses() { stopAll(); }
    void stopAll() {
        for (const auto& [id, name] : started) {
            char current[320];
            if (Drux::processExecutableName(id, current, sizeof current) && name == current) Drux::terminateProcess(id);
        }
        started.clear();
    }
    void add(Drux::ProcessId id, const std::string& path) {
        started.emplace_back(id, std::filesystem::path(path).filename().string());
    }
    Drux::ProcessId launch(const std::string& path, const std::string& arguments = std::string()) {
        Drux::ProcessId id = 0;
        EXPECT_TRUE(Drux::launchProcess(path.c_str(), ("\"" + path + "\" " + arguments).c_str(), nullptr, &id));
        add(id, path);
        return id;
    }
};

}  // namespace ProcessTest
