#include "controller_fixture.h"

#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "core/figures.h"
#include "launcher/server_controller.h"
#include "process/process_helper.h"

namespace LauncherTest {
namespace {

ControllerTest* g_fixture = nullptr;

// Above every process identifier the system hands out.
constexpr uint32_t kNoSuchProcess = 0x7FFFFFF0;

// Writes a 16-byte header, fields in host order as the wire format has them.
bool writeHeader(Drux::SocketHandle socket, const int32_t fields[4]) {
    size_t sent = 0;
    return Drux::socketSend(socket, fields, 16, &sent) && sent == 16;
}

}  // namespace

uint16_t freePort() {
    Drux::SocketHandle socket = Drux::socketCreate();
    Drux::socketBind(socket, 0);
    const uint16_t port = Drux::socketLocalPort(socket);
    Drux::socketClose(socket);
    return port;
}

// --- FakePeer ---------------------------------------------------------------

FakePeer::FakePeer(uint16_t port, bool heartbeats) {
    socket_ = Drux::socketCreate();
    if (!Drux::socketConnect(socket_, port)) return;
    VantrelMessageAgent_Create(&agent_);
    VantrelMessageAgent_SetMessageArrivedCallback(agent_, this, &FakePeer::onMessage);
    VantrelMessageAgent_SetHeartbeatActive(agent_, heartbeats ? 1 : 0);
    if (VantrelMessageAgent_Start(agent_, socket_) != 1) VantrelMessageAgent_Delete(&agent_);
}

FakePeer::~FakePeer() {
    Drux::socketShutdown(socket_);
    if (agent_ != nullptr) VantrelMessageAgent_Delete(&agent_);
    Drux::socketClose(socket_);
}

bool FakePeer::send(int32_t type, const char* payload) {
    return agent_ != nullptr && VantrelMessageAgent_SendMessage(agent_, type, payload) == 1;
}

int32_t FakePeer::onMessage(void* self, int32_t type, const char* payload) {
    if (type == VANTRELMESSAGETYPE_REPLY || type == VANTRELMESSAGETYPE_HEARTBEAT) return 1;
    auto* peer = static_cast<FakePeer*>(self);
    {
        std::lock_guard<std::mutex> guard(peer->mutex_);
        peer->messages_.push_back(
            {type, payload != nullptr ? std::optional<std::string>(payload) : std::optional<std::string>()});
    }
    peer->arrived_.notify_all();
    return 1;
}

std::optional<Message> FakePeer::waitFor(int32_t type, size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::optional<Message> found;
    arrived_.wait_for(lock, limit, [&] {
        size_t seen = 0;
        for (const Message& m : messages_)
            if (m.type == type && ++seen == count) {
                found = m;
                return true;
            }
        return false;
    });
    return found;
}

size_t FakePeer::count(int32_t type) const {
    std::lock_guard<std::mutex> guard(mutex_);
    size_t n = 0;
    for (const Message& m : messages_) n += m.type == type ? 1 : 0;
    return n;
}

std::vector<Message> FakePeer::received() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return messages_;
}

// --- RawPeer ----------------------------------------------------------------

RawPeer::RawPeer(uint16_t port) {
    socket_ = Drux::socketCreate();
    if (!Drux::socketConnect(socket_, port)) {
        Drux::socketClose(socket_);
        socket_ = Drux::kInvalidSocket;
    }
}

RawPeer::~RawPeer() {
    if (socket_ != Drux::kInvalidSocket) Drux::socketClose(socket_);
}

bool RawPeer::sendHeader(int32_t headerSize, int32_t version, int32_t type, int32_t payloadLength) {
    const int32_t fields[4] = {headerSize, version, type, payloadLength};
    return socket_ != Drux::kInvalidSocket && writeHeader(socket_, fields);
}

// --- ProgramRun -------------------------------------------------------------

std::string ProgramRun::commandLine() const {
    std::string line;
    for (const std::string& arg : args) line += (line.empty() ? "" : " ") + arg;
    return line;
}

// --- ControllerTest ---------------------------------------------------------

void ControllerTest::SetUp() {
    LoggedTest::SetUp();
    g_fixture = this;
    Drux::Figures& figures = Drux::testing::figures();
    figures.processStartPauseMs = 10;
    figures.gameRunningPollMs = 10;
    figures.gameRunningPollCount = 10;
    figures.processExitWaitMs = 3000;
    figures.closeStopGraceMs = 300;
    figures.stopGraceMs = 100;

    launcherPort_ = freePort();
    do airPort_ = freePort(); while (airPort_ == launcherPort_);
    do gamePort_ = freePort(); while (gamePort_ == launcherPort_ || gamePort_ == airPort_);

    // Names of this test process's own: the controller kills and waits for
    // programs by executable name, and must find no one else's.
    const std::string unique = std::to_string(getpid());
    launcherPath_ = directory()->file("drux-launcher-host-" + unique);
    airPath_ = directory()->file("KyrCLient-" + unique + ".exe");
    std::filesystem::copy_file(DRUX_TEST_AIR_STUB, airPath_);
    gamePath_ = copyGameProgram("");
}

std::string ControllerTest::copyGameProgram(const std::string& suffix) {
    const std::string path = directory()->file("drux-game-" + std::to_string(getpid()) + suffix);
    std::filesystem::copy_file(DRUX_TEST_GAME_STUB, path);
    return path;
}

void ControllerTest::TearDown() {
    if (CurrentController() != nullptr) VantrelServerController_Remove();
    // Only the programs this test started: the pids its stand-ins recorded.
    for (const auto& entry : std::filesystem::directory_iterator(directory()->path())) {
        const std::string name = entry.path().string();
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".run") != 0) continue;
        for (const ProgramRun& run : recordedRuns(name.substr(0, name.size() - 4)))
            if (alive(run.pid)) Drux::terminateProcess(run.pid);
    }
    g_fixture = nullptr;
    LoggedTest::TearDown();
}

int32_t ControllerTest::init(const PatchFunctionTable* table) {
    const int32_t result = VantrelServerController_Init(launcherPath_.c_str(), launcherPort_, airPath_.c_str(),
                                                        airPort_, gamePath_.c_str(), gamePort_, this,
                                                        &ControllerTest::onExit, &ControllerTest::onError, table);
    // Without a known AIR client the controller looks for one by its
    // executable name machine-wide and adopts it; another run's AIR client is
    // none of this test's business, so an identifier that names no process
    // stands in until the test's own AIR client is started.
    if (ProcessHelperState() != nullptr) SetProcessIdForProcessType(VANTRELPROCESSTYPE_AIR, kNoSuchProcess);
    return result;
}

void ControllerTest::initAndStart() {
    ASSERT_EQ(1, init());
    ASSERT_EQ(1, VantrelServerController_SetErrorMessageCallback(this, &ControllerTest::onError));
    ASSERT_EQ(1, VantrelServerController_Start());
}

void ControllerTest::onExit(void* context) {
    auto* test = static_cast<ControllerTest*>(context);
    test->exitContext_ = context;
    ++test->exitCalls_;
}

void ControllerTest::onError(void* context, int32_t type, const char* text) {
    if (g_fixture == nullptr) return;
    std::lock_guard<std::mutex> guard(g_fixture->errorsMutex_);
    g_fixture->errors_.push_back({context, type, text != nullptr ? text : "(null)"});
}

std::vector<ReportedError> ControllerTest::errors() const {
    std::lock_guard<std::mutex> guard(errorsMutex_);
    return errors_;
}

std::vector<ProgramRun> ControllerTest::recordedRuns(const std::string& program) const {
    std::vector<ProgramRun> runs;
    std::istringstream in(DruxTest::readFile(program + ".run"));
    std::string line;
    ProgramRun current;
    while (std::getline(in, line)) {
        if (line.rfind("pid ", 0) == 0) {
            current = ProgramRun();
            current.pid = static_cast<Drux::ProcessId>(std::stoul(line.substr(4)));
        } else if (line.rfind("cwd ", 0) == 0) {
            current.cwd = line.substr(4);
        } else if (line.rfind("arg ", 0) == 0) {
            current.args.push_back(line.substr(4));
        } else if (line == "end") {
            runs.push_back(current);
        }
    }
    return runs;
}

std::vector<ProgramRun> ControllerTest::runsOf(const std::string& program, size_t count, std::chrono::milliseconds limit) {
    DruxTest::waitUntil([&] { return recordedRuns(program).size() >= count; }, limit);
    return recordedRuns(program);
}

void ControllerTest::linkAirClient(FakePeer& air) {
    const size_t answered = air.count(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME);
    for (int attempt = 0; attempt < 100; ++attempt) {
        ASSERT_TRUE(air.send(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME));
        if (air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME, answered + 1, 50ms)) return;
    }
    FAIL() << "the AIR server never listed the connection";
}

void ControllerTest::linkGameConnection(FakePeer& air, FakePeer& game) {
    const size_t heard = game.count(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME);
    for (int attempt = 0; attempt < 100; ++attempt) {
        ASSERT_TRUE(air.send(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "link"));
        if (game.waitFor(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, heard + 1, 50ms)) return;
    }
    FAIL() << "the game server never listed the connection";
}

bool ControllerTest::waitGone(Drux::ProcessId pid, std::chrono::milliseconds limit) {
    return DruxTest::waitUntil([&] { return !alive(pid); }, limit);
}

size_t ControllerTest::logCount(const std::string& text) const {
    size_t n = 0;
    for (const std::string& line : logLines()) n += line.find(text) != std::string::npos ? 1 : 0;
    return n;
}

}  // namespace LauncherTest
