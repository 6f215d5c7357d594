#include <errno.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Vantrel.h"
#include "core/export_guard.h"
#include "core/log.h"
#include "core/platform/clock.h"
#include "support/test_support.h"

namespace {

using DruxTest::readFile;
using DruxTest::TempDirectory;

TEST(LogLifetime, InitDeletesTheOlderLogAndRemoveWritesTheLastLine) {
    TempDirectory directory;
    DruxTest::writeFile(directory.file("vantrel-game.log"), "old run\n");
    EXPECT_EQ(Vantrel_Init("game"), 1);
    EXPECT_EQ(readFile(directory.file("vantrel-game.log")), "INFO: vantrel [game] initializing...\n");
    EXPECT_EQ(std::string(Drux::LogFile::Path()), directory.file("vantrel-game.log"));
    EXPECT_EQ(Vantrel_Remove(), 1);
    EXPECT_EQ(readFile(directory.file("vantrel-game.log")),
              "INFO: vantrel [game] initializing...\nINFO: vantrel exiting...\n");
    EXPECT_EQ(Drux::LogFile::Path(), nullptr);
    // Closed: lines after Remove go nowhere.
    EXPECT_EQ(Vantrel_Log(0, "late\n"), 1);
    EXPECT_EQ(LogPrintf("%s", "late\n"), 0);
    EXPECT_EQ(readFile(directory.file("vantrel-game.log")).find("late"), std::string::npos);
}

TEST(LogLifetime, LoggingBeforeInitCreatesNoFile) {
    TempDirectory directory;
    EXPECT_EQ(Vantrel_Log(0, "nobody listens\n"), 1);
    Drux::LogError("nor here\n");
    EXPECT_TRUE(std::filesystem::is_empty(directory.path()));
}

TEST(LogLifetime, RepeatedInitKeepsOneLog) {
    TempDirectory directory;
    Vantrel_Init("first");
    Vantrel_Init("second");
    Vantrel_Log(0, "once\n");
    Vantrel_Remove();
    EXPECT_EQ(readFile(directory.file("vantrel-first.log")), "INFO: vantrel [first] initializing...\n");
    EXPECT_EQ(readFile(directory.file("vantrel-second.log")),
              "INFO: vantrel [second] initializing...\nINFO: once\nINFO: vantrel exiting...\n");
}

TEST(LogLifetime, UnwritableLogDropsLines) {
    TempDirectory directory;
    std::filesystem::create_directory(directory.file("vantrel-blocked.log"));
    EXPECT_EQ(Vantrel_Init("blocked"), 1);
    EXPECT_EQ(LogPrintf("%s", "dropped\n"), 0);
    EXPECT_EQ(Vantrel_Log(2, "dropped\n"), 1);
    EXPECT_EQ(Vantrel_Remove(), 1);
}

class LogLines : public DruxTest::LoggedTest {};

TEST_F(LogLines, LevelsPickTheirPrefixAndTextIsNeverAFormat) {
    for (int32_t level : {0, 1, 2, 7}) EXPECT_EQ(Vantrel_Log(level, "50%s done\n"), 1);
    const std::vector<std::string> expected = {
        "INFO: vantrel [test] initializing...\n", "INFO: 50%s done\n", "WARNING: 50%s done\n",
        "ERROR: 50%s done\n", "50%s done\n"};
    EXPECT_EQ(logLines(), expected);
}

TEST_F(LogLines, LongLineIsCutAt1023Characters) {
    const std::string text(2000, 'x');
    Vantrel_Log(0, (text + "\n").c_str());
    const std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "INFO: " + std::string(1017, 'x'));
}

TEST_F(LogLines, InnerTextIsCutToItsBufferFirst) {
    Drux::LogWarningF(8, "%s-%d\n", "abcdef", 42);
    Drux::LogErrorF(0, "%s", "ignored");
    // Both cut lines lost their line end, so they run together.
    EXPECT_EQ(logLines().at(1), "WARNING: abcdef-ERROR: ");
}

TEST_F(LogLines, LastErrorIsAnInfoLineTaggedWithTheOperation) {
    errno = ENOENT;
    EXPECT_EQ(LogLastError("VantrelServer_Start"), 1);
    errno = EACCES;
    LogLastError(nullptr);
    EXPECT_EQ(logLines().at(1), std::string("INFO: [VantrelServer_Start] ") + std::strerror(ENOENT) + "\n");
    EXPECT_EQ(logLines().at(2), std::string("INFO: ") + std::strerror(EACCES) + "\n");
    // The tagged text lives in 512 bytes.
    errno = ENOENT;
    LogLastError(std::string(600, 'n').c_str());
    EXPECT_EQ(logLines().at(3), "INFO: [" + std::string(510, 'n'));
}

TEST_F(LogLines, ConcurrentWritersNeverInterleaveLines) {
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w)
        writers.emplace_back([w] {
            const std::string line = std::string(200, static_cast<char>('a' + w)) + "\n";
            for (int i = 0; i < 50; ++i) Vantrel_Log(7, line.c_str());
        });
    for (auto& writer : writers) writer.join();
    const std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 201u);
    for (size_t i = 1; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i].size(), 201u);
        EXPECT_EQ(lines[i].find_first_not_of(lines[i][0]), 200u) << lines[i];
    }
}

TEST_F(LogLines, EscapedExceptionBecomesAnErrorLineAndTheFailureResult) {
    const int32_t result = Drux::guardExport("Vantrel_Test", int32_t{0}, []() -> int32_t {
        throw std::runtime_error("boom");
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(logLines().at(1), "ERROR: Vantrel_Test: unexpected failure: boom\n");
}

TEST(ElapsedSeconds, FollowsTheMillisecondTickTruncated) {
    const uint32_t before = Drux::tickMilliseconds();
    uint32_t seconds = 0;
    EXPECT_EQ(Vantrel_GetElapsedSeconds(&seconds), 1);
    const uint32_t after = Drux::tickMilliseconds();
    EXPECT_GE(seconds, before / 1000);
    EXPECT_LE(seconds, after / 1000);

    Drux::testing::advanceClock(5000);
    uint32_t later = 0;
    Vantrel_GetElapsedSeconds(&later);
    EXPECT_GE(later - seconds, 5u);
    EXPECT_LE(later - seconds, 6u);
    EXPECT_EQ(Vantrel_GetElapsedSeconds(nullptr), 0);
}

}  // namespace
