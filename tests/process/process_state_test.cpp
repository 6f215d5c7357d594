// The helper's record without programs to start: missing record, bad input,
// and the checks that the programs' files exist.
#include <filesystem>
#include <string>

#include "VantrelProcessHelper.h"
#include "process/file_checks.h"
#include "process/process_test_support.h"

namespace {

namespace fs = std::filesystem;
using ProcessState = ProcessTest::Fixture;

size_t occurrences(const std::string& text, const std::string& piece) {
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++count;
    return count;
}

TEST_F(ProcessState, EveryExportButKillByNameRefusesWithoutTheRecord) {
    const char* path = "unchanged";
    uint32_t running = 7;
    EXPECT_EQ(0, VantrelProcessHelper_Remove());
    EXPECT_EQ(0, VantrelProcessHelper_GetProcessPathForProcessType(VANTRELPROCESSTYPE_AIR, &path));
    EXPECT_EQ(nullptr, path);
    EXPECT_EQ(0, VantrelProcessHelper_IsProcessRunning(VANTRELPROCESSTYPE_AIR, &running));
    EXPECT_EQ(0u, running);
    EXPECT_EQ(0, VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_GAME, "x"));
    EXPECT_EQ(0, VantrelProcessHelper_StopProcess(VANTRELPROCESSTYPE_GAME, 0));
    EXPECT_EQ(0, VantrelProcessHelper_KillProcess(VANTRELPROCESSTYPE_GAME));
    EXPECT_EQ(0, VantrelProcessHelper_AllFilesExist());
    EXPECT_EQ(7u, occurrences(logText(), "ERROR: VantrelProcessHelper is not yet initialized.\n"));
    EXPECT_EQ(1, VantrelProcessHelper_KillProcessByName(ProcessTest::uniqueName("nothing").c_str()));
}

TEST_F(ProcessState, BadInputIsLoggedAndLeavesTheRecordAsItWas) {
    const std::string longPath = "/games/" + std::string(300, 'g');
    ASSERT_EQ(1, VantrelProcessHelper_Init("launcher", "air", longPath.c_str()));
    EXPECT_EQ(longPath.substr(0, 259), ProcessHelperState()->gamePath);
    EXPECT_EQ(0, VantrelProcessHelper_Init(nullptr, "other-air", "other-game"));
    EXPECT_STREQ("air", ProcessHelperState()->airPath);

    const char* path = "unchanged";
    EXPECT_EQ(0, VantrelProcessHelper_GetProcessPathForProcessType(7, &path));
    EXPECT_EQ(nullptr, path);
    uint32_t running = 7;
    EXPECT_EQ(1, VantrelProcessHelper_IsProcessRunning(VANTRELPROCESSTYPE_LAUNCHER, &running));
    EXPECT_EQ(0u, running);
    EXPECT_EQ(0, VantrelProcessHelper_IsProcessRunning(VANTRELPROCESSTYPE_GAME, nullptr));
    EXPECT_EQ(1, VantrelProcessHelper_StopProcess(VANTRELPROCESSTYPE_GAME, 0));  // no identifier recorded
    EXPECT_EQ(0, VantrelProcessHelper_KillProcess(9));
    EXPECT_EQ(4u, occurrences(logText(), "ERROR: Unknown process type.\n"));

    EXPECT_EQ(0, VantrelProcessHelper_StartProcess(7, nullptr));
    EXPECT_EQ(0, VantrelProcessHelper_StartProcess(VANTRELPROCESSTYPE_GAME, std::string(40000, 'a').c_str()));
    EXPECT_TRUE(logContains("more than the 32767 allowed; it is not started.\n"));
    EXPECT_EQ(0u, ProcessHelperState()->gameProcessId.load());

    EXPECT_EQ(1, VantrelProcessHelper_KillProcessByName(nullptr));
    EXPECT_EQ(1, VantrelProcessHelper_KillProcessByName(("/x/" + std::string(300, 'n')).c_str()));
    EXPECT_EQ(1, VantrelProcessHelper_KillProcessByName(("/x/" + std::string(400, 'n')).c_str()));
    EXPECT_TRUE(logContains("ERROR: VantrelProcessHelper_KillProcessByName was given no path.\n"));
    EXPECT_EQ(1u, occurrences(logText(), "the file name of the path is too long to look for.\n"));

    EXPECT_EQ(0, FileExists(nullptr));
    EXPECT_EQ(0, FileExists(longPath.c_str()));
    EXPECT_TRUE(logContains("ERROR: The file [" + longPath.substr(0, 100)));
    EXPECT_STREQ("air", ProcessHelperState()->airPath);
    EXPECT_EQ(1, VantrelProcessHelper_Remove());
    EXPECT_EQ(0, VantrelProcessHelper_Remove());
}

TEST_F(ProcessState, BareFileNamesAreLookedForBesideTheHostExecutable) {
    const std::string besideHost = ProcessTest::uniqueName("beside-host");
    const std::string onlyHere = ProcessTest::uniqueName("only-here");
    const fs::path hostFile = fs::path(DruxTest::testProgramDirectory()) / besideHost;
    DruxTest::writeFile(hostFile.string(), "x");
    DruxTest::writeFile(path(onlyHere), "x");
    fs::create_directories(path("a directory"));

    EXPECT_EQ(1, FileExists(besideHost.c_str()));
    EXPECT_EQ(0, FileExists(onlyHere.c_str()));
    EXPECT_EQ(1, FileExists(("./" + onlyHere).c_str()));
    EXPECT_EQ(0, FileExists(path("a directory").c_str()));
    EXPECT_TRUE(logContains("ERROR: The file [" + path("a directory") + "] does not exist."));
    fs::remove(hostFile);

    ASSERT_EQ(1, VantrelProcessHelper_Init("no-launcher", "no-air", "no-game"));
    EXPECT_EQ(0, VantrelProcessHelper_AllFilesExist());
    EXPECT_TRUE(ProcessTest::appearInOrder(logText(), {"ERROR: The file [no-launcher] does not exist.",
                                                        "ERROR: The file [no-air] does not exist.",
                                                        "ERROR: The file [no-game] does not exist."}));
    const std::string present = path(onlyHere);
    ASSERT_EQ(1, VantrelProcessHelper_Init(present.c_str(), present.c_str(), present.c_str()));
    EXPECT_EQ(1, VantrelProcessHelper_AllFilesExist());
}

}  // namespace
