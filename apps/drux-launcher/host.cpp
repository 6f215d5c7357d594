#include "host.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "Vantrel.h"
#include "VantrelProcessHelper.h"
#include "VantrelServerController.h"
#include "message_names.h"
#include "system.h"
#include "timeline.h"
#include "wakeup.h"

namespace DruxHost {
namespace {

using DruxApps::Timeline;

// The host's own pacing (not the library's figures).
constexpr int kPollPeriodMs = 100;           // between two VantrelServerController_ProcessEvents
constexpr int kCloseWaitMs = 30000;          // after Ctrl-C, for the AIR client to close the run
constexpr uint32_t kLeftoverGraceMs = 1000;  // for a program still running when the run is over
constexpr int kCloseRepeatMs = 1000;         // CLOSE again, for an AIR client that was still connecting

// What the library's callbacks tell the host loop; written on any thread.
struct RunState {
    std::atomic<int> exitCalls{0};
    std::mutex lock;
    std::set<int32_t> errorTypes;

    bool anyError() {
        std::lock_guard<std::mutex> guard(lock);
        return !errorTypes.empty();
    }
    bool had(int32_t type) {
        std::lock_guard<std::mutex> guard(lock);
        return errorTypes.count(type) != 0;
    }
    bool startFailed() {
        std::lock_guard<std::mutex> guard(lock);
        for (int32_t type : {VANTRELERRORTYPE_AIRPROCESSSTART, VANTRELERRORTYPE_AIRCOMMSTART,
                             VANTRELERRORTYPE_GAMECOMMSTART, VANTRELERRORTYPE_GENERIC})
            if (errorTypes.count(type) != 0) return true;
        return false;
    }
};

RunState g_run;

void onExit(void*) {
    if (g_run.exitCalls.fetch_add(1) == 0) Timeline::note("exit callback: the run is over");
    Wakeup::notify();
}

void onError(void*, int32_t errorType, const char* message) {
    {
        std::lock_guard<std::mutex> guard(g_run.lock);
        g_run.errorTypes.insert(errorType);
    }
    Timeline::error("error callback: " + DruxApps::errorTypeName(errorType) + ": " + (message ? message : ""));
    Wakeup::notify();
}

// Windows Sockets is the host's to start (WSAStartup): the library's launcher
// side never does. POSIX sockets need nothing.
bool startSocketLayer() { return DruxApps::startSockets(); }

void stopSocketLayer() { DruxApps::stopSockets(); }

const char* signalName(int number) { return number == SIGINT ? "SIGINT" : number == SIGTERM ? "SIGTERM" : "a signal"; }

bool running(int32_t processType) {
    uint32_t isRunning = 0;
    VantrelProcessHelper_IsProcessRunning(processType, &isRunning);
    return isRunning == 1;
}

// Whatever still runs when the run is over is given a moment, then stopped.
void stopLeftovers() {
    for (int32_t type : {VANTRELPROCESSTYPE_GAME, VANTRELPROCESSTYPE_AIR}) {
        if (!running(type)) continue;
        Timeline::notef("stopping the %s, still running after the run",
                        type == VANTRELPROCESSTYPE_GAME ? "game" : "AIR client");
        VantrelProcessHelper_StopProcess(type, kLeftoverGraceMs);
    }
}

// After Ctrl-C: ask the AIR client to close the run (it answers with CLOSE,
// which closes the game and ends the run through the exit callback).
void closeInterruptedRun(int signalNumber) {
    Timeline::notef("%s: closing the run", signalName(signalNumber));
    VantrelServerController_Stop();
    if (!running(VANTRELPROCESSTYPE_AIR)) return;
    const auto sendClose = [] {
        Timeline::note("-> AIR client  CLOSE");
        VantrelServer_SendMessageToAllClients(VantrelServerController_GetAirServerHandle(), VANTRELMESSAGETYPE_CLOSE,
                                              nullptr);
    };
    sendClose();
    // After a signal during the start the AIR client may not have connected
    // yet, and a CLOSE sent to no one would leave the whole wait to run out.
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::milliseconds(kCloseWaitMs);
    auto nextClose = start + std::chrono::milliseconds(kCloseRepeatMs);
    while (g_run.exitCalls.load() == 0 && Wakeup::signalCount() < 2 && std::chrono::steady_clock::now() < deadline) {
        Wakeup::wait(kPollPeriodMs);
        if (g_run.exitCalls.load() == 0 && std::chrono::steady_clock::now() >= nextClose) {
            sendClose();
            nextClose += std::chrono::milliseconds(kCloseRepeatMs);
        }
    }
    if (g_run.exitCalls.load() == 0) Timeline::note("the AIR client did not close the run; stopping the programs");
}

// While a start blocks the host's thread, a thread of its own waits for
// Ctrl-C or SIGTERM and stops the controller, which cuts the start short.
class SignalWatchDuringStart {
public:
    SignalWatchDuringStart()
        : thread_([this] {
              while (!done_.load() && Wakeup::firstSignal() == 0) Wakeup::wait(-1);
              if (done_.load()) return;
              Timeline::notef("%s during the start: cutting it short", signalName(Wakeup::firstSignal()));
              VantrelServerController_Stop();
          }) {}
    ~SignalWatchDuringStart() {
        done_ = true;
        Wakeup::notify();
        thread_.join();
    }
    SignalWatchDuringStart(const SignalWatchDuringStart&) = delete;
    SignalWatchDuringStart& operator=(const SignalWatchDuringStart&) = delete;

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

int32_t startController(const Options& o) {
    const SignalWatchDuringStart watch;
    return o.haveAirArguments ? VantrelServerController_StartArgs(o.airArguments.c_str())
                              : VantrelServerController_Start();
}

void removeAll() {
    VantrelServerController_Remove();
    Timeline::note("removed the controller");
}

// Names the port that cannot be listened on and the likely cause; false when
// it can be (the failure lay elsewhere).
bool reportUnboundPort(const char* which, int port) {
    const std::string why = DruxApps::whyPortCannotBeBound(port);
    if (why.empty()) return false;
    Timeline::error(std::string("cannot listen on the ") + which + " port " + std::to_string(port) + ": " + why +
                    " (--ports auto chooses free ports)");
    return true;
}

int couldNotListen(const Options& o) {
    if (!reportUnboundPort("launcher", o.launcherPort))
        Timeline::error("cannot listen on the launcher port " + std::to_string(o.launcherPort));
    return kCouldNotStart;
}

// --ports auto: three loopback ports free now. False with the reason printed.
bool chooseFreePorts(Options* o) {
    std::string error;
    const std::vector<int> ports = DruxApps::freeLoopbackPorts(3, &error);
    if (ports.size() != 3) {
        Timeline::error(error);
        return false;
    }
    o->launcherPort = ports[0];
    o->airPort = ports[1];
    o->gamePort = ports[2];
    Timeline::notef("--ports auto: chose the free ports launcher %d, AIR %d, game %d", o->launcherPort, o->airPort,
                    o->gamePort);
    return true;
}

// From the optional set-up calls to the end of the run; the controller exists.
int runStartedController(const Options& o) {
    VantrelServerController_SetErrorMessageCallback(nullptr, onError);
    if (o.verify && VantrelServerController_VerifyAllNeededFilesExist() != 1) {
        Timeline::error("a program is missing; looked for " + o.launcherPath + ", " + o.airPath + " and " + o.gamePath);
        return kCouldNotStart;
    }
    Timeline::note("starting the AIR client (the library pauses while a program starts)");
    const int32_t started = startController(o);
    // A signal during the start ends the run as one during the run does.
    if (Wakeup::firstSignal() == 0) {
        if (started != 1 || g_run.startFailed()) {
            Timeline::error("the run could not start");
            VantrelServerController_Stop();
            stopLeftovers();
            if (g_run.had(VANTRELERRORTYPE_AIRCOMMSTART)) reportUnboundPort("AIR", o.airPort);
            if (g_run.had(VANTRELERRORTYPE_GAMECOMMSTART)) reportUnboundPort("game", o.gamePort);
            return kCouldNotStart;
        }
        Timeline::note("started; supervising the run");
    }
    while (g_run.exitCalls.load() == 0 && Wakeup::firstSignal() == 0) {
        VantrelServerController_ProcessEvents();
        Wakeup::wait(kPollPeriodMs);
    }
    int status = g_run.anyError() ? kEndedAfterErrors : kEndedNormally;
    if (g_run.exitCalls.load() == 0) {
        closeInterruptedRun(Wakeup::firstSignal());
        status = kInterruptedBase + Wakeup::firstSignal();
    }
    VantrelServerController_Stop();
    stopLeftovers();
    return status;
}

}  // namespace

int runLauncher(const Options& given) {
    Options o = given;
    if (!Wakeup::install()) {
        std::fprintf(stderr, "drux-launcher: cannot set up signal handling: %s\n", std::strerror(errno));
        return kCouldNotStart;
    }
    Vantrel_Init(o.logTag.c_str());
    Timeline::open("launcher");
    if (!startSocketLayer()) {
        Timeline::error("cannot start the socket layer");
        Vantrel_Remove();
        return kCouldNotStart;
    }
    if (o.autoPorts && !chooseFreePorts(&o)) {
        stopSocketLayer();
        Timeline::close();
        Vantrel_Remove();
        return kCouldNotStart;
    }
    Timeline::notef("pid %d: ports launcher %d, AIR %d, game %d; AIR client %s; game %s", DruxApps::currentProcessId(),
                    o.launcherPort, o.airPort, o.gamePort, o.airPath.c_str(), o.gamePath.c_str());

    // The controller exists after Init even when Init fails; Remove ends it in every case.
    const int32_t initialised =
        VantrelServerController_Init(o.launcherPath.c_str(), o.launcherPort, o.airPath.c_str(), o.airPort,
                                     o.gamePath.c_str(), o.gamePort, nullptr, onExit, onError, nullptr);
    const int status = initialised == 1 ? runStartedController(o) : couldNotListen(o);
    removeAll();
    stopSocketLayer();
    Timeline::notef("exits with status %d", status);
    Timeline::close();
    Vantrel_Remove();
    return status;
}

}  // namespace DruxHost
