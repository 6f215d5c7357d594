// The patcher bridge: loading patcher.dll or the host's table once, the bridge
// operations, and the answers the AIR client receives.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <latch>
#include <mutex>
#include <optional>
#include <thread>

#include "VantrelServerController.h"
#include "core/figures.h"
#include "core/platform/socket.h"
#include "launcher/patch_bridge.h"
#include "launcher/server_controller.h"
#include "messaging/client.h"
#include "process/process_helper.h"
#include "support/test_support.h"

namespace {

using DruxTest::readFile;
using DruxTest::waitUntil;
using DruxTest::writeFile;

const std::string kUnavailable =
    "INFO: Could not load patching support. Back patching support for replays is disabled.\n";

uint16_t freePort() {
    Drux::SocketHandle socket = Drux::socketCreate();
    Drux::socketBind(socket, 0);
    uint16_t port = Drux::socketLocalPort(socket);
    Drux::socketClose(socket);
    return port;
}

struct Message {
    int32_t type;
    std::optional<std::string> payload;
};

class PatchBridgeTest : public DruxTest::LoggedTest {
protected:
    void SetUp() override {
        LoggedTest::SetUp();
        Drux::testing::resetPatchSupport();
        logStart_ = logLines().size();
    }
    void TearDown() override {
        if (client_ != nullptr) VantrelClient_Delete(&client_);
        if (CurrentController() != nullptr) VantrelServerController_Remove();
        Drux::testing::resetPatchSupport();
        LoggedTest::TearDown();
    }

    // Puts a test patch library ("full" or "missing_size") into the current
    // directory as patcher.dll. A link rather than a copy: the system loader
    // knows a file by its identity, and a copy in a deleted directory could
    // hand its identity on to the next test's copy. It also knows a library by
    // the path it was loaded from, so each path holds one kind per process.
    void installPatcher(const char* kind) {
        std::filesystem::create_symlink(std::string(DRUX_TEST_PATCHERS_DIR) + "/" + kind + "/patcher.dll",
                                        "patcher.dll");
    }
    std::string calls() const { return readFile("patcher-calls.log"); }
    // The log lines written since the test began.
    std::vector<std::string> bridgeLines() const {
        auto lines = logLines();
        return std::vector<std::string>(lines.begin() + static_cast<ptrdiff_t>(logStart_), lines.end());
    }

    // A controller whose AIR server listens on a free port, and one AIR client
    // connected to it that records what it receives.
    void connectAirClient(const PatchFunctionTable* table = nullptr) {
        const int32_t launcherPort = freePort();
        int32_t airPort = freePort();
        while (airPort == launcherPort) airPort = freePort();
        ASSERT_EQ(1, VantrelServerController_Init(directory()->file("no-launcher").c_str(), launcherPort,
                                                  directory()->file("no-air").c_str(), airPort,
                                                  directory()->file("no-game").c_str(), freePort(), nullptr,
                                                  nullptr, nullptr, table));
        ASSERT_EQ(1, VantrelServer_Start(CurrentController()->airServer, airPort));
        VantrelClient_Create(&client_);
        VantrelMessageAgent_SetMessageArrivedCallback(client_->agent, this, &PatchBridgeTest::record);
        ASSERT_EQ(1, VantrelClient_Start(client_, airPort));
        // The server lists the client a moment after accepting it: probe with
        // replies (which are not answered, and not recorded) until one arrives.
        ASSERT_TRUE(waitUntil([&] {
            VantrelServer_SendMessageToAllClients(CurrentController()->airServer, VANTRELMESSAGETYPE_REPLY, nullptr);
            return probed_.load();
        }));
    }
    static int32_t record(void* self, int32_t type, const char* payload) {
        auto* test = static_cast<PatchBridgeTest*>(self);
        if (type == VANTRELMESSAGETYPE_REPLY) {
            test->probed_ = true;
            return 1;
        }
        std::lock_guard<std::mutex> lock(test->mutex_);
        test->received_.push_back({type, payload ? std::optional<std::string>(payload) : std::nullopt});
        return 1;
    }
    VantrelMessageAgentHandle airAgent() const { return client_->agent; }
    std::vector<Message> received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    // The AIR client's message number `index` (from 0), once it has arrived.
    Message receivedAt(size_t index) {
        EXPECT_TRUE(waitUntil([&] { return received().size() > index; }));
        auto all = received();
        return index < all.size() ? all[index] : Message{-1, std::nullopt};
    }

private:
    size_t logStart_ = 0;
    VantrelClient* client_ = nullptr;
    std::atomic<bool> probed_{false};
    std::mutex mutex_;
    std::vector<Message> received_;
};

TEST_F(PatchBridgeTest, FirstRequestLogsBeforeTheLoaderAndAFailedLoadIsNotRetried) {
    char buffer[kPatchTextSize] = {};
    EXPECT_EQ(0, PatchBridge_EnumerateInstalledGameVersions(buffer));
    EXPECT_EQ((std::vector<std::string>{"INFO: Enumerating installed game versions\n", kUnavailable}), bridgeLines());

    installPatcher("full");  // too late: the outcome of the first load holds
    EXPECT_EQ(0, PatchBridge_InstallGameVersion("1.2"));
    EXPECT_EQ(0, PatchBridge_GameVersionToPath("1.2", buffer));
    EXPECT_EQ(0, EnsurePatchSupport());
    EXPECT_EQ((std::vector<std::string>{"INFO: Enumerating installed game versions\n", kUnavailable,
                                        "INFO: Installing game version 1.2\n"}),
              bridgeLines());
    EXPECT_EQ("", calls());
}

TEST_F(PatchBridgeTest, WithoutPatchSupportQueriesAnswerAnEmptyListAndProgressAnEmptyText) {
    // Sent by the AIR client, so the controller's routing delivers them in order.
    connectAirClient();
    for (int32_t type : {14, 15, 17, 18, 21, 22, 24, 25}) VantrelMessageAgent_SendMessage(airAgent(), type, "1.2");
    VantrelMessageAgent_SendMessage(airAgent(), VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_LATEST_VERSIONS, nullptr);

    const std::pair<int32_t, const char*> answered[] = {{27, nullptr}, {16, nullptr}, {35, nullptr}, {19, nullptr},
                                                        {36, "all"},   {23, nullptr}, {37, nullptr}, {26, nullptr}};
    for (size_t i = 0; i < std::size(answered); ++i) {
        VantrelMessageAgent_SendMessage(airAgent(), answered[i].first, answered[i].second);
        Message message = receivedAt(i);
        EXPECT_EQ(answered[i].first, message.type);
        bool progress = message.type == 16 || message.type == 19 || message.type == 23 || message.type == 26;
        EXPECT_EQ(progress ? std::nullopt : std::optional<std::string>("[]"), message.payload) << message.type;
    }
    EXPECT_EQ(std::size(answered), received().size());  // commands and the 36 without payload: no answer
    EXPECT_TRUE(logContains("ERROR: No arguments for EnumerateLatestGameVersions\n"));
    EXPECT_TRUE(logContains("INFO: Previewing uninstall version 1.2\n"));
}

TEST_F(PatchBridgeTest, ALibraryLackingOneEntryPointLeavesAllOthersUnused) {
    installPatcher("missing_size");
    char buffer[kPatchTextSize] = {};
    EXPECT_EQ(0, PatchBridge_GameVersionToPath("1.2", buffer));
    EXPECT_EQ(0, PatchBridge_InstallGameVersion("1.2"));
    EXPECT_EQ(0, PatchBridge_CancelInstallGame());
    EXPECT_EQ(0, PatchBridge_GetInstallGameProgress(buffer));
    EXPECT_EQ(0, PatchBridge_EnumerateInstalledGameVersions(buffer));
    EXPECT_EQ(0, PatchBridge_EnumerateLatestGameVersions("all", buffer));
    EXPECT_EQ(0, PatchBridge_CancelPreviewUninstallGame());
    auto lines = logLines();
    EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("ERROR") == 0; }));
    EXPECT_TRUE(logContains("ERROR: Could not load InstalledGameVersionSize\n"));
    EXPECT_FALSE(logContains(kUnavailable));
    EXPECT_EQ("", calls());
}

TEST_F(PatchBridgeTest, EachOperationReachesItsEntryPointWithItsSize) {
    installPatcher("full");
    char buffer[kPatchTextSize] = {};
    EXPECT_EQ(1, PatchBridge_GameVersionToPath("1.0", buffer));
    PatchBridge_InstallGameVersion("1.1");
    PatchBridge_CancelInstallGame();
    PatchBridge_GetInstallGameProgress(buffer);
    PatchBridge_PreviewGameVersion("1.2");
    PatchBridge_CancelPreviewGame();
    PatchBridge_GetPreviewGameProgress(buffer);
    PatchBridge_UninstallGameVersion("1.3");
    PatchBridge_CancelUninstallGame();
    PatchBridge_GetUninstallGameProgress(buffer);
    PatchBridge_PreviewUninstallGameVersion("1.4");
    PatchBridge_CancelPreviewUninstallGame();
    PatchBridge_GetPreviewUninstallGameProgress(buffer);
    PatchBridge_EnumerateInstalledGameVersions(buffer);
    PatchBridge_EnumerateUninstallableGameVersions(buffer);
    PatchBridge_EnumerateLatestGameVersions("all", buffer);
    writeFile("patcher-InstalledGameVersionSize.result", "7");
    EXPECT_EQ(7, PatchBridge_InstalledGameVersionSize(buffer));
    EXPECT_EQ(
        "GameVersionToPath 1.0 260\nInstallGameVersion 1.1 -\nCancelInstallGame - -\n"
        "GetInstallGameProgress - 16384\nPreviewGameVersion 1.2 -\nCancelPreviewGame - -\n"
        "GetPreviewGameProgress - 16384\nUninstallGameVersion 1.3 -\nCancelUninstallGame - -\n"
        "GetUninstallGameProgress - 16384\nPreviewUninstallGameVersion 1.4 -\nCancelPreviewUninstallGame - -\n"
        "GetPreviewUninstallGameProgress - 16384\nEnumerateInstalledGameVersions - 16384\n"
        "EnumerateUninstallableGameVersions - 16384\nEnumerateLatestGameVersions all 16384\n"
        "InstalledGameVersionSize - 16384\n",
        calls());
    EXPECT_EQ((std::vector<std::string>{
                  "INFO: Installing game version 1.1\n", "INFO: Cancelling game install\n",
                  "INFO: Previewing game version 1.2\n", "INFO: Cancelling game preview\n",
                  "INFO: Uninstalling game version 1.3\n", "INFO: Cancelling uninstall\n",
                  "INFO: Previewing uninstall version 1.4\n", "INFO: Cancelling uninstall preview\n",
                  "INFO: Enumerating installed game versions\n", "INFO: Enumerating uninstallable game versions\n",
                  "INFO: Enumerating latest available game versions\n", "INFO: Querying game version response\n"}),
              bridgeLines());

    // A long version is cut with its line end at 127 characters of the inner text.
    const std::string version(200, 'v');
    PatchBridge_UninstallGameVersion(version.c_str());
    const std::string inner = ("Uninstalling game version " + version).substr(0, 127);
    EXPECT_EQ("INFO: " + inner, logLines().back());
}

TEST_F(PatchBridgeTest, AnswersCarryThePatchersTextTerminatedWithinTheBuffer) {
    installPatcher("full");
    connectAirClient();
    writeFile("patcher-GetInstallGameProgress.txt", std::string(kPatchTextSize + 100, 'p'));
    writeFile("patcher-EnumerateInstalledGameVersions.txt", std::string(kPatchTextSize, 'i'));
    writeFile("patcher-EnumerateLatestGameVersions.txt", "[\"1.2\"]");
    writeFile("patcher-InstalledGameVersionSize.txt", "junk");
    writeFile("patcher-InstalledGameVersionSize.result", "0");

    HandlePatchRequest(16, nullptr);
    HandlePatchRequest(27, nullptr);
    HandlePatchRequest(36, "stable");
    HandlePatchRequest(37, nullptr);
    EXPECT_EQ(std::string(kPatchTextSize - 1, 'p'), receivedAt(0).payload);
    EXPECT_EQ(std::string(kPatchTextSize - 1, 'i'), receivedAt(1).payload);
    EXPECT_EQ("[\"1.2\"]", receivedAt(2).payload);
    EXPECT_EQ("[]", receivedAt(3).payload);
    EXPECT_TRUE(calls().find("EnumerateLatestGameVersions stable 16384\n") != std::string::npos);
}

int32_t tableInstall(const char* version) {
    writeFile("table-calls.log", readFile("table-calls.log") + "install " + version + "\n");
    return 1;
}
int32_t tableSize(char* buffer, int32_t size) {
    writeFile("table-calls.log", readFile("table-calls.log") + "size " + std::to_string(size) + "\n");
    snprintf(buffer, static_cast<size_t>(size), "42");
    return 1;
}

TEST_F(PatchBridgeTest, TheHostTableServesOnlyWhenPatcherDllCannotBeLoaded) {
    PatchFunctionTable table = {};
    table.functions[2] = reinterpret_cast<VantrelPatchFunction>(&tableInstall);
    table.functions[17] = reinterpret_cast<VantrelPatchFunction>(&tableSize);
    connectAirClient(&table);

    HandlePatchRequest(VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_VERSION, "2.0");
    HandlePatchRequest(VANTRELMESSAGETYPE_GAMECLIENT_INSTALLED_GAME_VERSION_SIZE, nullptr);
    EXPECT_EQ("42", receivedAt(0).payload);
    EXPECT_EQ("install 2.0\nsize 16384\n", readFile("table-calls.log"));
    EXPECT_TRUE(logContains("INFO: Installing game version 2.0\nINFO: Using VOLP back patching support.\n"));
    // Holes in the table are named and answer as failures.
    EXPECT_TRUE(logContains("ERROR: Could not load GameVersionToPath\n"));
    HandlePatchRequest(VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS, nullptr);
    EXPECT_EQ("[]", receivedAt(1).payload);

    // With a patcher.dll present (even an incomplete one) the table is not used.
    for (const char* kind : {"full", "missing_size"}) {
        Drux::testing::resetPatchSupport();
        std::filesystem::create_directory(directory()->file(kind));
        ASSERT_EQ(0, chdir(directory()->file(kind).c_str()));
        installPatcher(kind);
        PatchBridge_InstallGameVersion("2.1");
        EXPECT_EQ("", readFile("table-calls.log")) << kind;
        EXPECT_EQ(kind == std::string("full") ? "InstallGameVersion 2.1 -\n" : "", calls()) << kind;
        ASSERT_EQ(0, chdir(directory()->path().c_str()));
    }
}

TEST_F(PatchBridgeTest, ConcurrentFirstRequestsLoadOnceAndAllSeeTheOutcome) {
    for (bool withPatcher : {false, true}) {
        Drux::testing::resetPatchSupport();
        if (withPatcher) installPatcher("full");
        std::atomic<int32_t> available{0};
        std::latch start(4);
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([&] {
                start.arrive_and_wait();
                available += EnsurePatchSupport();
            });
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(withPatcher ? 4 : 0, available.load());
    }
    auto lines = logLines();
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), kUnavailable));
}

TEST_F(PatchBridgeTest, ACurrentDirectoryWithoutRoomForTheFileNameIsNotSearched) {
    // 250 characters fit a directory but not "/patcher.dll" after it; 300 do not fit at all.
    for (size_t length : {250u, 300u}) {
        Drux::testing::resetPatchSupport();
        std::string deep = directory()->path() + "/" + std::to_string(length);
        while (deep.size() < length) deep += "/" + std::string(std::min<size_t>(40, length - deep.size()), 'd');
        deep.resize(length);
        if (deep.back() == '/') deep.back() = 'd';
        std::filesystem::create_directories(deep);
        std::filesystem::create_symlink(std::string(DRUX_TEST_PATCHERS_DIR) + "/full/patcher.dll",
                                        deep + "/patcher.dll");
        ASSERT_EQ(0, chdir(deep.c_str()));
        EXPECT_EQ(0, EnsurePatchSupport()) << length;
        ASSERT_EQ(0, chdir(directory()->path().c_str()));
    }
    auto lines = logLines();
    const std::string refused =
        "ERROR: Could not build the path of patcher.dll: the current directory is unreadable or too long.\n";
    EXPECT_EQ(2, std::count(lines.begin(), lines.end(), refused));
    EXPECT_EQ(2, std::count(lines.begin(), lines.end(), kUnavailable));
}

TEST_F(PatchBridgeTest, CreateVersionTakesTheGamePathFromThePatcher) {
    Drux::testing::figures().processStartPauseMs = 1;
    Drux::testing::figures().stopGraceMs = 1;
    installPatcher("full");
    const std::string path = directory()->file("versions/1.2/no-game");
    writeFile("patcher-GameVersionToPath.txt", path);
    connectAirClient();
    // The start fails (there is no such program); its report says the path was applied.
    std::atomic<bool> startFailed{false};
    VantrelServerController_SetErrorMessageCallback(&startFailed, [](void* context, int32_t type, const char*) {
        if (type == VANTRELERRORTYPE_GAMEPROCESSSTART) static_cast<std::atomic<bool>*>(context)->store(true);
    });
    VantrelMessageAgent_SendMessage(airAgent(), VANTRELMESSAGETYPE_GAMECLIENT_CREATE_VERSION, "1.2 --windowed");
    ASSERT_TRUE(waitUntil([&] { return startFailed.load(); }));
    EXPECT_STREQ(path.c_str(), ProcessHelperState()->gamePath);
    EXPECT_EQ("GameVersionToPath 1.2 260\n", calls());
}

}  // namespace
