#include "support/test_support.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Vantrel.h"
#include "core/figures.h"

namespace DruxTest {

TempDirectory::TempDirectory() {
    char cwd[PATH_MAX] = {};
    if (getcwd(cwd, sizeof cwd) != nullptr) previous_ = cwd;
    std::string pattern = (std::filesystem::temp_directory_path() / "drux-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = buffer.data();
    if (chdir(path_.c_str()) != 0) throw std::runtime_error("chdir failed");
}

TempDirectory::~TempDirectory() {
    if (!previous_.empty() && chdir(previous_.c_str()) != 0) {
        // nothing better to do in a destructor
    }
    std::error_code ignored;
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
    std::string text = logText();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start + 1));
        start = end + 1;
    }
    return lines;
}

bool LoggedTest::logContains(const std::string& text) const { return logText().find(text) != std::string::npos; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
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

std::string testProgramDirectory() {
    char path[PATH_MAX] = {};
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    return std::filesystem::path(std::string(path, static_cast<size_t>(n))).parent_path().string();
}

}  // namespace DruxTest
