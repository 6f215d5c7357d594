// Command lines and the directory helpers of a launch, without starting anything.
#include <cerrno>
#include <string>
#include <vector>

#include "core/platform/process.h"
#include "process/file_checks.h"
#include "process/process_launch.h"
#include "support/test_support.h"

namespace {

std::vector<std::string> split(const std::string& line) {
    std::vector<char> storage(line.size() + 1);
    std::vector<char*> arguments(line.size() + 2);
    const size_t count = Drux::splitCommandLine(line.c_str(), storage.data(), arguments.data(), arguments.size());
    return std::vector<std::string>(arguments.begin(), arguments.begin() + static_cast<long>(count));
}

using Arguments = std::vector<std::string>;

TEST(CommandLine, SplitsByTheWindowsRules) {
    EXPECT_EQ(Arguments({"/opt/my game/run", "one", "two"}), split(R"("/opt/my game/run" one  two)"));
    EXPECT_EQ(Arguments({"app", "a b", "c"}), split(R"(app "a b" c)"));
    // 2n+1 backslashes before a quote: n backslashes and a literal quote.
    EXPECT_EQ(Arguments({"app", R"(a\"b)", R"(")"}), split(R"(app a\\\"b \")"));
    // 2n backslashes before a quote: n backslashes, and the quote groups.
    EXPECT_EQ(Arguments({"app", R"(a\b c)", R"(\\d e)"}), split(R"(app a\\"b c" \\\\"d e")"));
    // Backslashes elsewhere are taken as they are.
    EXPECT_EQ(Arguments({"app", R"(a\\b)", R"(c\)"}), split(R"(app a\\b c\)"));
    EXPECT_EQ(Arguments({"app", "", "x"}), split("app \"\" x"));
    EXPECT_EQ(Arguments({"app", "a"}), split("app\t a  "));
    // In the program name a backslash never escapes a quote.
    EXPECT_EQ(Arguments({R"(C:\dir\)", "tail"}), split(R"("C:\dir\" tail)"));
}

TEST(CommandLine, QuotesAnApplicationNameWithABlankAndPutsOneBlankBeforeEachArgument) {
    const char* arguments[] = {"-port 4000 \"x\"", ""};
    EXPECT_EQ("\"/opt/my game/run\" -port 4000 \"x\"", BuildCommandLine("/opt/my game/run", arguments, 1));
    EXPECT_EQ("/opt/run", BuildCommandLine("/opt/run", arguments, 0));
    EXPECT_EQ("/opt/run -port 4000 \"x\" ", BuildCommandLine("/opt/run", arguments, 2));
}

using CommandLineLimit = DruxTest::LoggedTest;

TEST_F(CommandLineLimit, ACommandLineOverTheSystemLimitIsRefusedBeforeAnythingStarts) {
    const std::string application = "/nonexistent/app";  // 16 characters and a blank before the argument
    const std::string fits(kMaxCommandLineLength - application.size() - 1, 'x');
    const std::string tooLong = fits + "x";
    const char* argv[] = {tooLong.c_str()};
    ProcessHandle launched;
    errno = 0;
    EXPECT_FALSE(LaunchProcess(argv, 1, application.c_str(), nullptr, &launched));
    EXPECT_EQ(E2BIG, errno);
    EXPECT_EQ(0u, launched.processId);
    EXPECT_TRUE(logContains("ERROR: The command line for /nonexistent/app has 32768 characters, more than the 32767 "
                            "allowed; it is not started.\n"));

    // At the limit the line is handed to the system, which finds no such program.
    argv[0] = fits.c_str();
    EXPECT_FALSE(LaunchProcess(argv, 1, application.c_str(), nullptr, &launched));
    EXPECT_EQ(ENOENT, errno);
}

TEST(PathHelpers, ContainingDirectoryOfFilesAndDirectories) {
    auto containing = [](const char* path) {
        char output[256] = "untouched";
        return GetContainingDirectory(path, output) ? std::string(output) : "refused:" + std::string(output);
    };
    EXPECT_EQ("C:\\games\\bin\\", containing("C:\\games\\bin\\game.exe"));
    EXPECT_EQ("/opt/air/", containing("/opt/air/KyrCLient.exe"));
    EXPECT_EQ("C:\\games\\", containing("C:\\games\\bin\\"));
    // The last forward slash decides even when a backslash follows it.
    EXPECT_EQ("C:/games/", containing("C:/games/bin\\sub\\"));
    EXPECT_EQ("noseparator/", containing("noseparator/"));
    EXPECT_EQ("", containing("game.exe"));
    EXPECT_EQ("refused:untouched", containing(("/" + std::string(300, 'd') + "/game.exe").c_str()));
}

TEST(PathHelpers, FindLastSubstring) {
    EXPECT_EQ(4, FindLastSubstring("a/bc/d", "/"));
    EXPECT_EQ(0, FindLastSubstring("abc", "abc"));
    EXPECT_EQ(-1, FindLastSubstring("ab", "abc"));
    EXPECT_EQ(-1, FindLastSubstring("abc", "x"));
    EXPECT_EQ(-1, FindLastSubstring(nullptr, "x"));
}

}  // namespace
