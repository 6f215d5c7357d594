// Helpers shared by the library's tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/platform/socket.h"

namespace DruxTest {

// A fresh temporary directory that becomes the current directory for the
// test's lifetime (so each test's log file is its own), removed afterwards.
class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return (std::filesystem::path(path_) / name).string(); }

private:
    std::string path_;
    std::string previous_;
};

// A test fixture that runs in its own temporary directory with the log open
// under the tag "test" and the library's figures and clock untouched by earlier
// tests' changes to figures.
class LoggedTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The whole log file, and its lines (each with its "\n" where written).
    std::string logText() const;
    std::vector<std::string> logLines() const;
    // Whether the log holds this exact text somewhere; how many times; and
    // whether it holds every piece, each after the one before.
    bool logContains(const std::string& text) const;
    size_t logCount(const std::string& text) const;
    bool logHasInOrder(const std::vector<std::string>& pieces) const;
    std::string logPath() const;
    TempDirectory* directory() { return directory_.get(); }

private:
    std::unique_ptr<TempDirectory> directory_;
};

// A text file whole, its line ends read as "\n" (the log and the other text
// files are written in text mode, which on Windows ends lines with "\r\n").
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

// Polls the condition every millisecond until it holds or the real-time limit
// passes; returns the last result.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

// A fresh loopback connection: its connecting end, then its accepted end.
std::pair<Drux::SocketHandle, Drux::SocketHandle> connectedPair();

// The directory that holds the running test program.
std::string testProgramDirectory();

}  // namespace DruxTest
