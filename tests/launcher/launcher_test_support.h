// The launcher controller on real sockets, with copies of the stand-in program
// as the AIR client and the game, and the test playing their parts on the sockets.
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "VantrelMessageAgent.h"
#include "VantrelServerController.h"
#include "core/figures.h"
#include "core/platform/clock.h"
#include "core/platform/socket.h"
#include "launcher/patch_bridge.h"
#include "launcher/server_controller.h"
#include "process/process_helper.h"
#include "process/process_test_support.h"
#include "support/test_system.h"

namespace LauncherTest {

using ProcessTest::Record;
using ProcessTest::runsOf;

struct Message {
    int32_t type;
    std::optional<std::string> payload;
};

// A connection to one of the controller's ports, served by the library's own
// message agent. Keeps every message that arrives except replies and heartbeats.
class Peer {
public:
    explicit Peer(uint16_t port, bool heartbeats = true) {
        EXPECT_TRUE(Drux::socketConnect(socket_, port));
        VantrelMessageAgent_Create(&agent_);
        VantrelMessageAgent_SetMessageArrivedCallback(agent_, this, &Peer::onMessage);
        VantrelMessageAgent_SetHeartbeatActive(agent_, heartbeats ? 1 : 0);
        EXPECT_EQ(1, VantrelMessageAgent_Start(agent_, socket_));
    }
    ~Peer() {
        Drux::socketShutdown(socket_);
        VantrelMessageAgent_Delete(&agent_);
        Drux::socketClose(socket_);
    }
    bool send(int32_t type, const char* payload = nullptr) {
        return VantrelMessageAgent_SendMessage(agent_, type, payload) == 1;
    }
    std::vector<Message> of(int32_t type) const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Message> found;
        for (const Message& message : messages_)
            if (message.type == type) found.push_back(message);
        return found;
    }
    size_t count(int32_t type) const { return of(type).size(); }
    // The n-th message of the type (from 1), once it has arrived.
    std::optional<Message> waitFor(int32_t type, size_t n = 1) const {
        std::vector<Message> found;
        DruxTest::waitUntil([&] { return (found = of(type)).size() >= n; });
        return found.size() >= n ? std::optional<Message>(found[n - 1]) : std::nullopt;
    }
    // Waits until the server lists this AIR connection, so that every later
    // broadcast reaches it: the answer to a request is broadcast.
    void link() {
        const size_t answers = count(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME) + 1;
        send(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME);
        ASSERT_TRUE(waitFor(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME, answers));
    }

private:
    static int32_t onMessage(void* self, int32_t type, const char* payload) {
        auto* peer = static_cast<Peer*>(self);
        std::lock_guard<std::mutex> lock(peer->mutex_);
        if (type != VANTRELMESSAGETYPE_REPLY && type != VANTRELMESSAGETYPE_HEARTBEAT)
            peer->messages_.push_back({type, payload ? std::optional<std::string>(payload) : std::nullopt});
        return 1;
    }
    Drux::SocketHandle socket_ = Drux::socketCreate();
    VantrelMessageAgentHandle agent_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
};

// Each reported error: its context, type and text.
using Errors = std::vector<std::tuple<void*, int32_t, std::string>>;

// Moves the clock until the seconds clock reads `stamp + seconds`, half a second into that second.
inline void advanceToSecondsAfter(uint32_t stamp, uint32_t seconds) {
    const uint64_t target = (static_cast<uint64_t>(stamp) + seconds) * 1000 + 500;
    ASSERT_GT(target, Drux::tickMilliseconds());
    Drux::testing::advanceClock(static_cast<uint32_t>(target - Drux::tickMilliseconds()));
    ASSERT_EQ(stamp + seconds, Drux::tickSeconds());
}

class ControllerTest : public DruxTest::LoggedTest {
protected:
    void SetUp() override {
        LoggedTest::SetUp();
        current() = this;
        Drux::Figures& figures = Drux::testing::figures();
        figures.processStartPauseMs = 10;
        figures.gameRunningPollMs = 10;
        figures.gameRunningPollCount = 10;
        figures.processExitWaitMs = 3000;
        figures.closeStopGraceMs = 300;
        figures.stopGraceMs = 100;
        Drux::testing::resetPatchSupport();
        std::vector<Drux::SocketHandle> holders;  // held together, so the three ports differ
        for (uint16_t* port : {&launcherPort_, &airPort_, &gamePort_}) {
            holders.push_back(Drux::socketCreate());
            Drux::socketBind(holders.back(), 0);
            *port = Drux::socketLocalPort(holders.back());
        }
        for (Drux::SocketHandle socket : holders) Drux::socketClose(socket);
        // Names of this test process's own: the controller kills and waits for
        // programs by executable name, and must find no one else's.
        const std::string unique = std::to_string(Drux::currentProcessId());
        launcherPath_ = directory()->file("drux-launcher-host-" + unique);
        airPath_ = ProcessTest::installStandIn(directory()->file("KyrCLient-" + unique + ".exe"));
        gamePath_ = ProcessTest::installStandIn(directory()->file("drux-game-" + unique));
    }
    void TearDown() override {
        if (Drux::currentController() != nullptr) VantrelServerController_Remove();
        ProcessTest::StartedProcesses started;  // the programs whose runs were recorded here
        for (const auto& entry : std::filesystem::recursive_directory_iterator(directory()->path()))
            if (entry.path().extension() == ".run")
                for (const Record& run : runsOf((entry.path().parent_path() / entry.path().stem()).string(), 0))
                    started.add(run.pid(), entry.path().stem().string());
        started.stopAll();
        EXPECT_EQ(Errors{}, takeErrors());  // whatever a test did not take and check was not expected
        for (Drux::SocketHandle socket : rawSockets_) Drux::socketClose(socket);
        Drux::testing::resetPatchSupport();
        current() = nullptr;
        LoggedTest::TearDown();
    }

    // Init with the fixture's paths, ports and callbacks (the exit callback's context: the fixture).
    int32_t init(const PatchFunctionTable* table = nullptr) {
        const int32_t result =
            VantrelServerController_Init(launcherPath_.c_str(), launcherPort_, airPath_.c_str(), airPort_,
                                         gamePath_.c_str(), gamePort_, this, &onExit, &onError, table);
        // Without a known AIR client the controller adopts any running one by
        // name; another run's AIR client is none of this test's business, so
        // an identifier that names no process stands in until the test's own starts.
        if (Drux::processHelperState() != nullptr) SetProcessIdForProcessType(VANTRELPROCESSTYPE_AIR, 0x7FFFFFF0);
        return result;
    }
    // Init, the error callback's context set to the fixture as well, and Start.
    void initAndStart(const PatchFunctionTable* table = nullptr) {
        ASSERT_EQ(1, init(table));
        ASSERT_EQ(1, VantrelServerController_SetErrorMessageCallback(this, &onError));
        ASSERT_EQ(1, VantrelServerController_Start());
    }
    // Writes a bare 16-byte header (fields in host order, as on the wire) on a new connection.
    void sendHeader(uint16_t port, int32_t size, int32_t version, int32_t type) {
        rawSockets_.push_back(Drux::socketCreate());
        const int32_t fields[4] = {size, version, type, 0};
        size_t sent = 0;
        ASSERT_TRUE(Drux::socketConnect(rawSockets_.back(), port));
        ASSERT_TRUE(DruxTest::sendSome(rawSockets_.back(), fields, 16, &sent) && sent == 16);
    }
    // Links a test patch library ("full" or "missing_size") into the current directory as
    // patcher.dll (a copy in a deleted directory could hand its identity on to the next test's).
    // Where links need privileges (Windows), a copy: Windows never hands a loaded module's
    // identity to a file at another path.
    static void installPatcher(const char* kind) {
        const std::string library = std::string(DRUX_TEST_PATCHERS_DIR) + "/" + kind + "/patcher.dll";
        std::error_code linkFailed;
        std::filesystem::create_symlink(library, "patcher.dll", linkFailed);
        if (linkFailed) std::filesystem::copy_file(library, "patcher.dll");
    }
    static bool alive(Drux::ProcessId pid) { return Drux::processIsRunning(pid); }
    // Asks for a game (the nth started) and returns its run; with `polled`, once the
    // launcher has its process (a game can record its run before its starter has its identifier).
    Record startGame(Peer& air, bool polled = false, int32_t request = VANTRELMESSAGETYPE_GAMECLIENT_CREATE,
                     size_t nth = 1) {
        air.send(request);
        const Record game = runsOf(gamePath_, nth).at(nth - 1);
        const auto known = [&] { return Drux::processHelperState()->gameProcessId == game.pid(); };
        EXPECT_TRUE(!polled || DruxTest::waitUntil(known));
        return game;
    }
    static bool waitGone(Drux::ProcessId pid) { return ProcessTest::endsSoon(pid); }
    static bool end(const Record& run) {
        Drux::terminateProcess(run.pid());
        return waitGone(run.pid());
    }
    // The errors reported since the last call.
    Errors takeErrors() {
        std::lock_guard<std::mutex> lock(errorsMutex_);
        return std::exchange(errors_, {});
    }

    uint16_t launcherPort_ = 0, airPort_ = 0, gamePort_ = 0;
    std::string launcherPath_, airPath_, gamePath_;
    std::atomic<int> exitCalls_{0};
    std::atomic<void*> exitContext_{nullptr};

private:
    static ControllerTest*& current() {
        static ControllerTest* test = nullptr;
        return test;
    }
    static void onExit(void* context) {
        static_cast<ControllerTest*>(context)->exitContext_ = context;
        ++static_cast<ControllerTest*>(context)->exitCalls_;
    }
    // Init leaves the error callback's context null: the current test records.
    static void onError(void* context, int32_t type, const char* text) {
        if (current() == nullptr) return;
        std::lock_guard<std::mutex> lock(current()->errorsMutex_);
        current()->errors_.push_back({context, type, text != nullptr ? text : "(null)"});
    }
    std::vector<Drux::SocketHandle> rawSockets_;
    mutable std::mutex errorsMutex_;
    Errors errors_;
};

}  // namespace LauncherTest
