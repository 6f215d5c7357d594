// The patcher bridge: loading patcher.dll or the host's table once, and the
// answers the AIR client receives.

#include <algorithm>
#include <cstdio>

#include "launcher_test_support.h"

namespace LauncherTest {
namespace {

const std::string kUnavailable =
    "INFO: Could not load patching support. Back patching support for replays is disabled.\n";

TEST_F(ControllerTest, PatchSupportIsLoadedAtTheFirstRequestAndAFailedLoadIsNotRetried) {
    char buffer[kPatchTextSize] = {};
    const size_t before = logLines().size();
    EXPECT_EQ(0, PatchBridge_EnumerateInstalledGameVersions(buffer));
    installPatcher("full");  // too late: the outcome of the first load holds
    EXPECT_EQ(0, PatchBridge_InstallGameVersion("1.2"));
    EXPECT_EQ(0, EnsurePatchSupport());
    const std::vector<std::string> lines = logLines();
    EXPECT_EQ((std::vector<std::string>{"INFO: Enumerating installed game versions\n", kUnavailable,
                                        "INFO: Installing game version 1.2\n"}),
              std::vector<std::string>(lines.begin() + static_cast<ptrdiff_t>(before), lines.end()));
    EXPECT_FALSE(std::filesystem::exists("patcher-calls.log"));
}

TEST_F(ControllerTest, WithoutPatchSupportQueriesAnswerAnEmptyListAndProgressAnEmptyText) {
    initAndStart();
    Peer air(airPort_);
    const int32_t commands[] = {14, 15, 17, 18, 21, 22, 24, 25};
    for (int32_t type : commands) air.send(type, "1.2");
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_LATEST_VERSIONS);  // without its request: no answer
    for (auto [type, request] : {std::pair<int32_t, const char*>{27, nullptr},
                                 {16, nullptr},
                                 {35, nullptr},
                                 {19, nullptr},
                                 {36, "all"},
                                 {23, nullptr},
                                 {37, nullptr},
                                 {26, nullptr}}) {
        air.send(type, request);
        const bool progress = type == 16 || type == 19 || type == 23 || type == 26;
        EXPECT_EQ(progress ? std::nullopt : std::optional<std::string>("[]"), air.waitFor(type).value().payload);
    }
    for (int32_t type : commands) EXPECT_EQ(0u, air.count(type)) << type;
    EXPECT_EQ(1u, air.count(VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_LATEST_VERSIONS));
    EXPECT_TRUE(logContains("ERROR: No arguments for EnumerateLatestGameVersions\n"));
}

TEST_F(ControllerTest, APatcherLackingOneEntryPointLeavesAllOthersUnused) {
    installPatcher("missing_size");
    char buffer[kPatchTextSize] = {};
    EXPECT_EQ(0, PatchBridge_GameVersionToPath("1.2", buffer));
    EXPECT_EQ(0, PatchBridge_InstallGameVersion("1.2"));
    EXPECT_EQ(0, PatchBridge_EnumerateLatestGameVersions("all", buffer));
    const std::vector<std::string> lines = logLines();
    EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("ERROR") == 0; }));
    EXPECT_TRUE(logContains("ERROR: Could not load InstalledGameVersionSize\n"));
    EXPECT_FALSE(logContains(kUnavailable));
    EXPECT_FALSE(std::filesystem::exists("patcher-calls.log"));
}

TEST_F(ControllerTest, TheAirClientsRequestsReachThePatchersEntryPointsAndItsTextsComeBack) {
    installPatcher("full");
    DruxTest::writeFile("patcher-GetInstallGameProgress.txt", std::string(kPatchTextSize + 100, 'p'));
    DruxTest::writeFile("patcher-EnumerateInstalledGameVersions.txt", std::string(kPatchTextSize, 'i'));
    DruxTest::writeFile("patcher-EnumerateLatestGameVersions.txt", "[\"1.2\"]");
    DruxTest::writeFile("patcher-InstalledGameVersionSize.result", "0");  // a failed query answers "[]"
    initAndStart();
    Peer air(airPort_);
    for (auto [type, payload] : {std::pair<int32_t, const char*>{14, "1.1"},
                                 {15, nullptr},
                                 {16, nullptr},
                                 {17, "1.2"},
                                 {18, nullptr},
                                 {19, nullptr},
                                 {21, "1.3"},
                                 {22, nullptr},
                                 {23, nullptr},
                                 {24, "1.4"},
                                 {25, nullptr},
                                 {26, nullptr},
                                 {27, nullptr},
                                 {35, nullptr},
                                 {36, "stable"},
                                 {37, nullptr}})
        air.send(type, payload);
    EXPECT_EQ("[]", air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_INSTALLED_GAME_VERSION_SIZE).value().payload);
    EXPECT_EQ(std::string(kPatchTextSize - 1, 'p'), air.waitFor(16).value().payload);
    EXPECT_EQ(std::string(kPatchTextSize - 1, 'i'), air.waitFor(27).value().payload);
    EXPECT_EQ("[\"1.2\"]", air.waitFor(36).value().payload);
    EXPECT_EQ(
        "InstallGameVersion 1.1 -\nCancelInstallGame - -\nGetInstallGameProgress - 16384\n"
        "PreviewGameVersion 1.2 -\nCancelPreviewGame - -\nGetPreviewGameProgress - 16384\n"
        "UninstallGameVersion 1.3 -\nCancelUninstallGame - -\nGetUninstallGameProgress - 16384\n"
        "PreviewUninstallGameVersion 1.4 -\nCancelPreviewUninstallGame - -\nGetPreviewUninstallGameProgress - 16384\n"
        "EnumerateInstalledGameVersions - 16384\nEnumerateUninstallableGameVersions - 16384\n"
        "EnumerateLatestGameVersions stable 16384\nInstalledGameVersionSize - 16384\n",
        DruxTest::readFile("patcher-calls.log"));
}

std::mutex g_tableMutex;
std::string g_tableCalls;

int32_t tableInstall(const char* version) {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    g_tableCalls += "install " + std::string(version) + "\n";
    return 1;
}
int32_t tableSize(char* buffer, int32_t size) {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    g_tableCalls += "size " + std::to_string(size) + "\n";
    std::snprintf(buffer, static_cast<size_t>(size), "42");
    return 1;
}

TEST_F(ControllerTest, TheHostsTableServesOnlyWhenPatcherDllCannotBeLoaded) {
    g_tableCalls.clear();
    PatchFunctionTable table = {};
    table.functions[2] = reinterpret_cast<VantrelPatchFunction>(&tableInstall);
    table.functions[17] = reinterpret_cast<VantrelPatchFunction>(&tableSize);
    initAndStart(&table);
    Peer air(airPort_);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_VERSION, "2.0");
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_INSTALLED_GAME_VERSION_SIZE);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS);
    EXPECT_EQ("42", air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_INSTALLED_GAME_VERSION_SIZE).value().payload);
    // A hole in the table is named and answers as a failure.
    EXPECT_EQ("[]", air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS).value().payload);
    EXPECT_TRUE(logContains("ERROR: Could not load GameVersionToPath\n"));
    EXPECT_TRUE(logContains("INFO: Using VOLP back patching support.\n"));

    // With a patcher.dll present (even an incomplete one) the table is not used.
    for (const std::string kind : {"full", "missing_size"}) {
        Drux::testing::resetPatchSupport();
        std::filesystem::create_directory(directory()->file(kind));
        std::filesystem::current_path(directory()->file(kind));
        installPatcher(kind.c_str());
        PatchBridge_InstallGameVersion("2.1");
        EXPECT_EQ(kind == "full" ? "InstallGameVersion 2.1 -\n" : "", DruxTest::readFile("patcher-calls.log"));
        std::filesystem::current_path(directory()->path());
    }
    std::lock_guard<std::mutex> lock(g_tableMutex);
    EXPECT_EQ("install 2.0\nsize 16384\n", g_tableCalls);
}

}  // namespace
}  // namespace LauncherTest
