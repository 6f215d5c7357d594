#include <errno.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Vantrel.h"
#include "core/export_guard.h"
#include "core/log.h"
#include "core/log_limiter.h"
#include "core/platform/clock.h"
#include "core/platform/system_error.h"
#include "support/test_support.h"

namespace {

using DruxTest::readFile;

TEST(Log, WritesOnlyBetweenInitAndRemoveKeepsTextAsGivenAndStaysClosedBetweenLines) {
    DruxTest::TempDirectory directory;
    EXPECT_EQ(Vantrel_Log(0, "nobody listens\n"), 1);
    Drux::LogError("nor here\n");
    EXPECT_TRUE(std::filesystem::is_empty(directory.path()));

    DruxTest::writeFile(directory.file("vantrel-game.log"), "old run\n");
    Vantrel_Init("other");  // a repeated Init leaves one log: the later one
    EXPECT_EQ(Vantrel_Init("game"), 1);
    EXPECT_EQ(std::string(Drux::LogFile::Path()), directory.file("vantrel-game.log"));
    for (int32_t level : {0, 1, 2, 7}) EXPECT_EQ(Vantrel_Log(level, "50%s done\n"), 1);
    const std::string longText = std::string(2000, 'x') + "\n";
    Vantrel_Log(0, longText.c_str());  // both cut to 1023 characters, line end lost
    LogPrintf("%s", longText.c_str());
    EXPECT_EQ(Vantrel_Remove(), 1);
    EXPECT_EQ(readFile(directory.file("vantrel-other.log")), "INFO: vantrel [other] initializing...\n");
    EXPECT_EQ(readFile(directory.file("vantrel-game.log")),
              "INFO: vantrel [game] initializing...\nINFO: 50%s done\nWARNING: 50%s done\nERROR: 50%s done\n"
              "50%s done\nINFO: " +
                  std::string(1017 + 1023, 'x') + "INFO: vantrel exiting...\n");

    // Closed: lines after Remove go nowhere.
    EXPECT_EQ(Drux::LogFile::Path(), nullptr);
    EXPECT_EQ(Vantrel_Log(0, "late\n"), 1);
    EXPECT_EQ(LogPrintf("%s", "late\n"), 0);
    EXPECT_EQ(readFile(directory.file("vantrel-game.log")).find("late"), std::string::npos);
    // A log that cannot be opened drops its lines.
    std::filesystem::create_directory(directory.file("vantrel-blocked.log"));
    EXPECT_EQ(Vantrel_Init("blocked"), 1);
    EXPECT_EQ(LogPrintf("%s", "dropped\n"), 0);
    EXPECT_EQ(Vantrel_Remove(), 1);

    // The file stays closed between lines, so it can be moved or deleted.
    ASSERT_EQ(Vantrel_Init("moved"), 1);
    const std::string path = directory.file("vantrel-moved.log");
    std::filesystem::rename(path, directory.file("kept.log"));
    Vantrel_Log(0, "after the move\n");
    std::filesystem::remove(path);
    Vantrel_Log(1, "after the deletion\n");
    Vantrel_Remove();
    EXPECT_EQ(readFile(directory.file("kept.log")), "INFO: vantrel [moved] initializing...\n");
    EXPECT_EQ(readFile(path), "WARNING: after the deletion\nINFO: vantrel exiting...\n");
}

class LogLines : public DruxTest::LoggedTest {};

TEST_F(LogLines, InnerTextsLastErrorsAndEscapedExceptionsMakeTheirLines) {
    Drux::LogWarningF(8, "%s-%d\n", "abcdef", 42);  // cut lines lose their line end and run together
    Drux::LogErrorF(0, "%s", "ignored");
    Drux::LogInfo("\n");
    // The system's own texts for two errors (they differ between systems).
    Drux::setLastError(Drux::LibraryFailure::TooLong);
    const std::string tooLong = Drux::lastErrorText();
    Drux::setLastError(Drux::LibraryFailure::InvalidArgument);
    const std::string invalid = Drux::lastErrorText();
    ASSERT_FALSE(tooLong.empty() || invalid.empty() || tooLong == invalid);
    EXPECT_EQ(LogLastError("VantrelServer_Start"), 1);
    Drux::setLastError(Drux::LibraryFailure::TooLong);
    LogLastError(nullptr);
    Drux::setLastError(Drux::LibraryFailure::TooLong);
    LogLastError(std::string(600, 'n').c_str());  // the tagged text lives in 512 bytes
    Drux::LogInfo("\n");
    EXPECT_EQ(0, Drux::guardExport("Vantrel_Test", int32_t{0}, []() -> int32_t { throw std::runtime_error("boom"); }));
    const std::vector<std::string> expected = {
        "INFO: vantrel [test] initializing...\n",       "WARNING: abcdef-ERROR: INFO: \n",
        "INFO: [VantrelServer_Start] " + invalid,       "INFO: " + tooLong,
        "INFO: [" + std::string(510, 'n') + "INFO: \n", "ERROR: Vantrel_Test: unexpected failure: boom\n"};
    EXPECT_EQ(logLines(), expected);
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
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i], std::string(200, lines[i][0]) + "\n");
}

// A limiter lets five lines of a text through per second of the (moved)
// clock; past that it counts, and the first line of the next second tells
// the count. A text repeated no faster than that is never summed up, and texts
// beyond the eighth are counted together.
TEST_F(LogLines, ALimiterHoldsBackOnlyWhatPassesFiveLinesOfATextASecond) {
    const std::string type = "Invalid message type.\n";
    {
        Drux::LogLimiter limiter;
        for (int i = 0; i < 7; ++i) limiter.warning(type.c_str());
        limiter.warning("Invalid version on incoming message.\n");  // another text has its own five
        Drux::testing::advanceClock(Drux::LogLimiter::kIntervalMs);
        limiter.warning(std::string(type).c_str());  // the same text from another buffer
        for (int i = 0; i < 5; ++i) limiter.warning(type.c_str());
    }
    {
        Drux::LogLimiter limiter("on this port");
        for (int second = 0; second < 8; ++second) {  // a slow trickle
            limiter.info("Message arived, but there is no MessageArrivedCallback.\n");
            Drux::testing::advanceClock(Drux::LogLimiter::kIntervalMs);
        }
        // With the trickle's, eight texts of their own; the ninth and tenth share.
        for (int text = 0; text < Drux::LogLimiter::kTexts - 1; ++text)
            limiter.warning(("text " + std::to_string(text) + "\n").c_str());
        for (int i = 0; i < 7; ++i) limiter.warning(i % 2 == 0 ? "ninth\n" : "tenth\n");
    }
    std::vector<std::string> expected = {"INFO: vantrel [test] initializing...\n"};
    for (int i = 0; i < 5; ++i) expected.push_back("WARNING: Invalid message type.\n");
    expected.push_back("WARNING: Invalid version on incoming message.\n");
    expected.push_back("WARNING: 2 more of \"Invalid message type.\" from this connection were not logged.\n");
    for (int i = 0; i < 5; ++i) expected.push_back("WARNING: Invalid message type.\n");
    expected.push_back("WARNING: 1 more of \"Invalid message type.\" from this connection were not logged.\n");
    for (int i = 0; i < 8; ++i) expected.push_back("INFO: Message arived, but there is no MessageArrivedCallback.\n");
    for (int text = 0; text < Drux::LogLimiter::kTexts - 1; ++text)
        expected.push_back("WARNING: text " + std::to_string(text) + "\n");
    for (int i = 0; i < 5; ++i) expected.push_back(i % 2 == 0 ? "WARNING: ninth\n" : "WARNING: tenth\n");
    expected.push_back("WARNING: 2 more warnings on this port were not logged.\n");
    EXPECT_EQ(logLines(), expected);
}

TEST(ElapsedSeconds, FollowTheMovableMillisecondTickTruncated) {
    Drux::testing::advanceClock(5000);  // moves of the library's clock count too
    const uint32_t before = Drux::tickMilliseconds();
    uint32_t seconds = 0;
    EXPECT_EQ(Vantrel_GetElapsedSeconds(&seconds), 1);
    EXPECT_GE(seconds, before / 1000);
    EXPECT_LE(seconds, Drux::tickMilliseconds() / 1000);
    EXPECT_EQ(Vantrel_GetElapsedSeconds(nullptr), 0);
}

}  // namespace
