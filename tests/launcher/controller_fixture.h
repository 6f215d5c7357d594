// The launcher controller's tests: a fixture that runs the controller against
// real sockets and real child programs, with the test playing the AIR client's
// (and, where it needs to, the game's) part on the socket.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "VantrelMessageAgent.h"
#include "VantrelServerController.h"
#include "core/platform/process.h"
#include "core/platform/socket.h"
#include "support/test_support.h"

namespace LauncherTest {

using namespace std::chrono_literals;

struct Message {
    int32_t type;
    std::optional<std::string> payload;
};

// A connection to one of the controller's ports, served by the library's own
// message agent. Keeps every message that arrives except replies and heartbeats.
class FakePeer {
public:
    explicit FakePeer(uint16_t port, bool heartbeats = true);
    ~FakePeer();
    FakePeer(const FakePeer&) = delete;
    FakePeer& operator=(const FakePeer&) = delete;

    bool connected() const { return agent_ != nullptr; }
    bool send(int32_t type, const char* payload = nullptr);
    // Waits until `count` messages of the type have arrived; returns the last of them.
    std::optional<Message> waitFor(int32_t type, size_t count = 1, std::chrono::milliseconds limit = 5000ms);
    size_t count(int32_t type) const;
    std::vector<Message> received() const;

private:
    static int32_t onMessage(void* self, int32_t type, const char* payload);

    Drux::SocketHandle socket_ = Drux::kInvalidSocket;
    VantrelMessageAgentHandle agent_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Message> messages_;
};

// A bare socket for writing bytes that no agent would write.
class RawPeer {
public:
    explicit RawPeer(uint16_t port);
    ~RawPeer();
    bool sendHeader(int32_t headerSize, int32_t version, int32_t type, int32_t payloadLength);

private:
    Drux::SocketHandle socket_ = Drux::kInvalidSocket;
};

// One start of a stand-in program, as it recorded it.
struct ProgramRun {
    Drux::ProcessId pid = 0;
    std::string cwd;
    std::vector<std::string> args;
    std::string commandLine() const;  // the arguments joined by blanks
};

struct ReportedError {
    void* context;
    int32_t type;
    std::string text;
};

uint16_t freePort();

class ControllerTest : public DruxTest::LoggedTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Init with the fixture's paths and ports, its exit callback (context: the
    // fixture) and its error callback.
    int32_t init(const PatchFunctionTable* table = nullptr);
    // Init, then the error callback's context set to the fixture as well, then Start.
    void initAndStart();

    // The stand-ins' runs, in order, once at least `count` have been recorded.
    std::vector<ProgramRun> runsOf(const std::string& program, size_t count = 1, std::chrono::milliseconds limit = 5000ms);
    std::vector<ProgramRun> recordedRuns(const std::string& program) const;
    // A fresh copy of the game stand-in under another unique name.
    std::string copyGameProgram(const std::string& suffix);
    // Waits until the AIR server lists this connection, so that every later
    // broadcast reaches it. A connection's first messages can be handled
    // before the server lists it, so the request is repeated until an answer
    // comes back.
    static void linkAirClient(FakePeer& air);
    // The same for a connection to the game server, through chat from a linked AIR client.
    static void linkGameConnection(FakePeer& air, FakePeer& game);
    static bool alive(Drux::ProcessId pid) { return Drux::processIsRunning(pid); }
    static bool waitGone(Drux::ProcessId pid, std::chrono::milliseconds limit = 5000ms);

    std::vector<ReportedError> errors() const;
    int exitCalls() const { return exitCalls_.load(); }
    // How many lines of the log hold the text.
    size_t logCount(const std::string& text) const;

    uint16_t launcherPort_ = 0, airPort_ = 0, gamePort_ = 0;
    std::string launcherPath_, airPath_, gamePath_;

    static void onExit(void* context);
    static void onError(void* context, int32_t type, const char* text);
    std::atomic<int> exitCalls_{0};
    std::atomic<void*> exitContext_{nullptr};
    mutable std::mutex errorsMutex_;
    std::vector<ReportedError> errors_;
};

}  // namespace LauncherTest
