#include "launcher/start_interruption.h"

#include <mutex>
#include <thread>

#include "launcher/server_controller.h"
#include "process/process_waits.h"

namespace StartInterruption {
namespace {

// Guards the start's end against a Stop at the same moment, so that a Stop is
// never overwritten by the start marking the controller started.
struct State {
    std::mutex mutex;
    bool inProgress = false;
    bool stopped = false;
    // The thread of the start in progress, whose waits a Stop cuts.
    std::thread::id startThread;
};

State& state() {
    static State s;
    return s;
}

}  // namespace

StartScope::StartScope() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.inProgress = true;
    s.stopped = false;
    s.startThread = std::this_thread::get_id();
}

StartScope::~StartScope() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.inProgress = false;
    // The pauses were cut short for this start only: later ones run in full.
    if (s.stopped) Drux::processWaits().resumeThread(s.startThread);
    s.stopped = false;
}

bool StartScope::stopped() const {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    return s.stopped;
}

bool StartScope::finish(VantrelServerControllerStruct* controller) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    if (s.stopped) return false;
    controller->isStarted = 1;
    return true;
}

void interrupt(VantrelServerControllerStruct* controller) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    controller->isStarted = 0;
    if (!s.inProgress || s.stopped) return;
    s.stopped = true;
    Drux::processWaits().interruptThread(s.startThread);
}

}  // namespace StartInterruption
