// The sample patch library through its entry points, loaded as the launcher loads it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "VantrelServerController.h"
#include "app_test_system.h"

namespace {
namespace fs = std::filesystem;

class PatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A fresh folder of a name that no concurrent test program draws.
        std::random_device random;
        do dir_ = fs::temp_directory_path() / ("drux-patcher-" + std::to_string(random()) + std::to_string(random()));
        while (!fs::create_directory(dir_));
        std::ofstream(dir_ / "the-game.exe") << "#!/bin/sh\necho game\n";
        AppTest::setEnvironment("DRUX_PATCHER_ROOT", (dir_ / "versions").string());
        AppTest::setEnvironment("DRUX_PATCHER_GAME", (dir_ / "the-game.exe").string());
        AppTest::setEnvironment("DRUX_PATCHER_AVAILABLE", "1.9.0, 1.10.0,1.0.0,bad/name");
        std::string error;
        library_ = AppTest::loadLibrary(DRUX_PATCHER_LIBRARY, &error);
        ASSERT_NE(library_, nullptr) << error;
    }
    void TearDown() override {
        if (library_ != nullptr) AppTest::freeLibrary(library_);
        fs::remove_all(dir_);
    }
    template <typename Fn>
    Fn entry(const char* name) {
        void* symbol = AppTest::findEntry(library_, name);
        EXPECT_NE(symbol, nullptr) << name;
        return reinterpret_cast<Fn>(symbol);
    }
    // A text query's text, or "(refused)".
    std::string text(const char* name) {
        char buffer[16384] = {};
        return entry<VantrelPatchTextQueryFn>(name)(buffer, sizeof buffer) == 1 ? buffer : "(refused)";
    }
    int32_t version(const char* name, const char* v) { return entry<VantrelPatchVersionCommandFn>(name)(v); }
    int32_t pathOf(const char* v, char* path, int32_t size) {
        return entry<VantrelPatchGameVersionToPathFn>("GameVersionToPath")(v, path, size);
    }

    fs::path dir_;
    void* library_ = nullptr;
};

TEST_F(PatcherTest, VersionsAreInstalledListedFoundAndUninstalledAndBadOnesRefused) {
    char buffer[256] = {};
    const auto latest = entry<VantrelPatchRequestQueryFn>("EnumerateLatestGameVersions");
    ASSERT_EQ(latest("2", buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "[\"1.10.0\",\"1.9.0\"]");  // newest first, numerically; "bad/name" is no version
    const std::string size = std::to_string(fs::file_size(dir_ / "the-game.exe"));
    EXPECT_EQ(version("PreviewGameVersion", "1.9.0"), 1);
    EXPECT_NE(text("GetPreviewGameProgress").find("\"installed\":false,\"bytesToInstall\":" + size), std::string::npos);
    for (const char* v : {"3.0.0", "../escape", "", "bad/name", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(version("InstallGameVersion", v), 0) << v;
        EXPECT_NE(text("GetInstallGameProgress").find("\"state\":\"failed\""), std::string::npos) << v;
    }
    EXPECT_FALSE(fs::exists(dir_ / "escape"));
    EXPECT_EQ(pathOf("1.10.0", buffer, sizeof buffer), 0);

    EXPECT_EQ(version("InstallGameVersion", "1.10.0"), 1);
    EXPECT_EQ(version("InstallGameVersion", "1.9.0"), 1);
    EXPECT_NE(text("GetInstallGameProgress").find("\"version\":\"1.9.0\",\"state\":\"complete\",\"percent\":100"),
              std::string::npos);
    EXPECT_EQ(text("EnumerateInstalledGameVersions"), "[\"1.9.0\",\"1.10.0\"]");
    EXPECT_EQ(text("EnumerateUninstallableGameVersions"), "[\"1.9.0\"]");
    EXPECT_EQ(text("InstalledGameVersionSize"),
              "[{\"version\":\"1.9.0\",\"bytes\":" + size + "},{\"version\":\"1.10.0\",\"bytes\":" + size + "}]");
    ASSERT_EQ(pathOf("1.10.0", buffer, sizeof buffer), 1);
    EXPECT_EQ(fs::path(buffer), dir_ / "versions" / "1.10.0" / "the-game.exe");
    EXPECT_TRUE((fs::status(buffer).permissions() & fs::perms::owner_exec) != fs::perms::none);
    // A path that does not fit is cut, terminated, and reported as a failure.
    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(pathOf("1.10.0", small, sizeof small), 0);
    EXPECT_EQ(std::string(small), (dir_ / "versions").string().substr(0, 7));

    // The newest version stays; the others go.
    EXPECT_EQ(version("PreviewUninstallGameVersion", "1.10.0"), 0);
    EXPECT_EQ(version("UninstallGameVersion", "1.10.0"), 0);
    EXPECT_NE(text("GetUninstallGameProgress").find("is the newest installed version and stays"), std::string::npos);
    EXPECT_EQ(version("UninstallGameVersion", "1.9.0"), 1);
    EXPECT_NE(text("GetUninstallGameProgress").find("\"state\":\"complete\""), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "versions" / "1.9.0"));
    EXPECT_EQ(text("EnumerateInstalledGameVersions"), "[\"1.10.0\"]");
}

TEST_F(PatcherTest, CancelFromAnotherThreadStopsARunningInstall) {
    // A large sparse game, so that the copy is still running when cancelled.
    fs::resize_file(dir_ / "the-game.exe", 256u << 20);
    const auto cancel = entry<VantrelPatchCancelFn>("CancelInstallGame");
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        while (!done && cancel() != 1) std::this_thread::yield();
    });
    const int32_t installed = version("InstallGameVersion", "1.0.0");
    done = true;
    canceller.join();
    EXPECT_EQ(installed, 0);
    EXPECT_NE(text("GetInstallGameProgress").find("\"state\":\"cancelled\""), std::string::npos);
    EXPECT_EQ(text("EnumerateInstalledGameVersions"), "[]");
    EXPECT_EQ(cancel(), 0);  // nothing runs any more
}

}  // namespace
