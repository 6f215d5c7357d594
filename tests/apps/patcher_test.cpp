// The sample patch library through its 17 entry points, loaded as the
// launcher loads it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "VantrelServerController.h"

namespace {
namespace fs = std::filesystem;

constexpr int32_t kTextSize = 16384;

class PatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "drux-patcher-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        source_ = dir_ / "source" / "the-game";
        fs::create_directories(source_.parent_path());
        std::ofstream(source_) << "#!/bin/sh\necho game\n";
        setenv("DRUX_PATCHER_ROOT", (dir_ / "versions").c_str(), 1);
        setenv("DRUX_PATCHER_GAME", source_.c_str(), 1);
        setenv("DRUX_PATCHER_AVAILABLE", "1.9.0, 1.10.0,1.0.0,bad/name", 1);
        library_ = dlopen(DRUX_PATCHER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
    }
    void TearDown() override {
        if (library_ != nullptr) dlclose(library_);
        fs::remove_all(dir_);
    }
    template <typename Fn>
    Fn entry(const char* name) {
        void* symbol = dlsym(library_, name);
        EXPECT_NE(symbol, nullptr) << name;
        return reinterpret_cast<Fn>(symbol);
    }
    std::string text(const char* name) {
        char buffer[kTextSize] = {};
        EXPECT_EQ(entry<VantrelPatchTextQueryFn>(name)(buffer, kTextSize), 1) << name;
        return buffer;
    }
    int32_t version(const char* name, const char* v) { return entry<VantrelPatchVersionCommandFn>(name)(v); }
    std::string latest(const char* request) {
        char buffer[kTextSize] = {};
        EXPECT_EQ(entry<VantrelPatchRequestQueryFn>("EnumerateLatestGameVersions")(request, buffer, kTextSize), 1);
        return buffer;
    }

    fs::path dir_;
    fs::path source_;
    void* library_ = nullptr;
};

TEST_F(PatcherTest, VersionsAreInstalledListedFoundAndUninstalled) {
    EXPECT_EQ(text("EnumerateInstalledGameVersions"), "[]");
    EXPECT_EQ(latest("all"), "[\"1.10.0\",\"1.9.0\",\"1.0.0\"]");
    EXPECT_EQ(latest("2"), "[\"1.10.0\",\"1.9.0\"]");

    EXPECT_EQ(version("PreviewGameVersion", "1.9.0"), 1);
    EXPECT_NE(text("GetPreviewGameProgress").find("\"installed\":false,\"bytesToInstall\":" +
                                                   std::to_string(fs::file_size(source_))),
              std::string::npos);
    EXPECT_EQ(version("InstallGameVersion", "1.10.0"), 1);
    EXPECT_EQ(version("InstallGameVersion", "1.9.0"), 1);
    EXPECT_NE(text("GetInstallGameProgress").find("\"version\":\"1.9.0\",\"state\":\"complete\",\"percent\":100"),
              std::string::npos);
    EXPECT_EQ(text("EnumerateInstalledGameVersions"), "[\"1.9.0\",\"1.10.0\"]");
    EXPECT_EQ(text("EnumerateUninstallableGameVersions"), "[\"1.9.0\"]");
    const std::string size = std::to_string(fs::file_size(source_));
    EXPECT_EQ(text("InstalledGameVersionSize"),
              "[{\"version\":\"1.9.0\",\"bytes\":" + size + "},{\"version\":\"1.10.0\",\"bytes\":" + size + "}]");

    char path[260] = {};
    ASSERT_EQ(entry<VantrelPatchGameVersionToPathFn>("GameVersionToPath")("1.10.0", path, sizeof path), 1);
    EXPECT_EQ(fs::path(path), dir_ / "versions" / "1.10.0" / "the-game");
    EXPECT_TRUE((fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none);

    // The newest version stays; the others go.
    EXPECT_EQ(version("PreviewUninstallGameVersion", "1.10.0"), 0);
    EXPECT_EQ(version("UninstallGameVersion", "1.10.0"), 0);
    EXPECT_NE(text("GetUninstallGameProgress").find("is the newest installed version and stays"), std::string::npos);
    EXPECT_EQ(version("UninstallGameVersion", "1.9.0"), 1);
    EXPECT_NE(text("GetUninstallGameProgress").find("\"state\":\"complete\""), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "versions" / "1.9.0"));
    EXPECT_EQ(text("EnumerateInstalledGameVersions"), "[\"1.10.0\"]");
}

TEST_F(PatcherTest, UnknownAndUnsafeVersionsAndShortBuffersAreRefused) {
    for (const char* v : {"3.0.0", "../escape", "", "bad/name"}) {
        EXPECT_EQ(version("InstallGameVersion", v), 0) << v;
        EXPECT_NE(text("GetInstallGameProgress").find("\"state\":\"failed\""), std::string::npos) << v;
    }
    EXPECT_EQ(version("InstallGameVersion", nullptr), 0);
    EXPECT_FALSE(fs::exists(dir_ / "escape"));
    char path[260] = {};
    EXPECT_EQ(entry<VantrelPatchGameVersionToPathFn>("GameVersionToPath")("1.0.0", path, sizeof path), 0);
    ASSERT_EQ(version("InstallGameVersion", "1.0.0"), 1);
    // A path that does not fit is cut, terminated, and reported as a failure.
    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(entry<VantrelPatchGameVersionToPathFn>("GameVersionToPath")("1.0.0", small, sizeof small), 0);
    EXPECT_EQ(small[7], '\0');
    EXPECT_EQ(std::string(small), (dir_ / "versions").string().substr(0, 7));
}

TEST_F(PatcherTest, CancelFromAnotherThreadStopsARunningInstall) {
    // A large sparse game, so that the copy is still running when cancelled.
    fs::resize_file(source_, 256u << 20);
    const VantrelPatchCancelFn cancel = entry<VantrelPatchCancelFn>("CancelInstallGame");
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
