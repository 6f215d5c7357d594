#include "support/test_support.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Vantrel.h"
#include "core/figures.h"
#include "core/platform/paths.h"
#include "core/platform/process.h"

namespace DruxTest {

namespace {

// The socket library stays started for the whole test program (Windows
// Sockets must be; elsewhere it is a counted no-op).
class SocketLibrary : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(0, Drux::socketStartup()); }
    void TearDown() override { Drux::socketCleanup(); }
};
[[maybe_unused]] ::testing::Environment* const g_sockets = ::testing::AddGlobalTestEnvironment(new SocketLibrary);

}  // namespace

TempDirectory::TempDirectory() {
    namespace fs = std::filesystem;
    previous_ = fs::current_path().string();
    // Unique across processes by the process id, within one by a counter.
    static std::atomic<unsigned> counter{0};
    const std::string stem = "drux-test-" + std::to_string(Drux::currentProcessId()) + "-";
    for (;;) {
        const fs::path candidate = fs::temp_directory_path() / (stem + std::to_string(counter++));
        if (fs::create_directory(candidate)) {
            path_ = candidate.string();
            break;
        }
    }
    fs::current_path(path_);
}

TempDirectory::~TempDirectory() {
    std::error_code ignored;
    if (!previous_.empty()) std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void LoggedTest::SetUp() {
    Drux::testing::resetFigures();
    directory_ = std::make_unique<TempDirectory>();
    Vantrel_Init("test");
}

void LoggedTest::TearDown() {
    Vantrel_Remove();
    directory_.reset();
    Drux::testing::resetFigures();
}

std::string LoggedTest::logPath() const { return directory_->file("vantrel-test.log"); }

std::string LoggedTest::logText() const { return readFile(logPath()); }

std::vector<std::string> LoggedTest::logLines() const {
    std::vector<std::string> lines;
    const std::string text = logText();
    for (size_t start = 0, end = 0; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size() - 1);
        lines.push_back(text.substr(start, end - start + 1));
    }
    return lines;
}

bool LoggedTest::logContains(const std::string& text) const { return logText().find(text) != std::string::npos; }

size_t LoggedTest::logCount(const std::string& text) const {
    const std::string log = logText();
    size_t count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
}

bool LoggedTest::logHasInOrder(const std::vector<std::string>& pieces) const {
    const std::string log = logText();
    size_t at = 0;
    for (const std::string& piece : pieces) {
        at = log.find(piece, at);
        if (at == std::string::npos) return false;
        at += piece.size();
    }
    return true;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::pair<Drux::SocketHandle, Drux::SocketHandle> connectedPair() {
    const Drux::SocketHandle listening = Drux::socketCreate();
    Drux::SocketHandle connecting = Drux::socketCreate(), accepted = Drux::kInvalidSocket;
    EXPECT_TRUE(Drux::socketBind(listening, 0) && Drux::socketListen(listening));
    EXPECT_TRUE(Drux::socketConnect(connecting, Drux::socketLocalPort(listening)) &&
                Drux::socketAccept(listening, &accepted));
    Drux::socketClose(listening);
    return {connecting, accepted};
}

std::string testProgramDirectory() {
    char path[4096] = {};
    if (!Drux::hostExecutablePath(path, sizeof path)) return ".";
    return std::filesystem::path(path).parent_path().string();
}

}  // namespace DruxTest
