#include "launcher/controller_waits.h"

#include "core/interruptible_waits.h"
#include "core/log.h"
#include "core/platform/clock.h"
#include "core/platform/state_lock.h"

namespace ControllerWaits {
namespace {

struct Registry {
    Drux::StateLock mutex;
    Drux::InterruptibleWaits waits;  // interrupted from Close until the next Open
    uint64_t generation = 0;         // one per controller
    int activeHandlers = 0;
    Drux::Waker handlersDone;  // Remove's wait for the handlers to leave
};

Registry& registry() {
    static Registry r;
    return r;
}

// The controller generation that the handler on this thread began under; 0
// outside handlers.
thread_local uint64_t t_handlerGeneration = 0;
thread_local int t_callbackDepth = 0;

bool closingLocked(const Registry& r) {
    return r.waits.interrupted() || (t_handlerGeneration != 0 && t_handlerGeneration != r.generation);
}

}  // namespace

void resume() {
    Registry& r = registry();
    std::lock_guard<Drux::StateLock> guard(r.mutex);
    ++r.generation;
    r.waits.resume();
}

void interrupt() {
    Registry& r = registry();
    std::lock_guard<Drux::StateLock> guard(r.mutex);
    r.waits.interrupt();
}

bool interrupted() {
    Registry& r = registry();
    std::lock_guard<Drux::StateLock> guard(r.mutex);
    return closingLocked(r);
}

bool sleep(uint32_t milliseconds) {
    // interrupted() also covers a handler of an earlier controller, which the
    // interruption alone does not.
    return !interrupted() && registry().waits.sleep(milliseconds) && !interrupted();
}

size_t inProgress() { return registry().waits.inProgress(); }

HandlerScope::HandlerScope() : previousGeneration_(t_handlerGeneration) {
    Registry& r = registry();
    std::lock_guard<Drux::StateLock> guard(r.mutex);
    ++r.activeHandlers;
    t_handlerGeneration = r.generation;
}

HandlerScope::~HandlerScope() {
    Registry& r = registry();
    std::lock_guard<Drux::StateLock> guard(r.mutex);
    t_handlerGeneration = previousGeneration_;
    if (--r.activeHandlers == 0 && r.waits.interrupted()) r.handlersDone.notify();
}

bool waitForHandlers(uint32_t milliseconds) {
    Registry& r = registry();
    const uint32_t start = Drux::tickMilliseconds();
    for (;;) {
        {
            std::lock_guard<Drux::StateLock> guard(r.mutex);
            if (r.activeHandlers == 0) return true;
        }
        const uint32_t elapsed = Drux::tickMilliseconds() - start;
        if (elapsed >= milliseconds) return false;
        r.handlersDone.waitFor(milliseconds - elapsed);
    }
}

CallbackScope::CallbackScope() { ++t_callbackDepth; }
CallbackScope::~CallbackScope() { --t_callbackDepth; }

bool refusedInsideCallback(const char* exportName) {
    if (t_callbackDepth == 0) return false;
    Drux::LogErrorF(320, "%s cannot be called from inside a controller callback.\n", exportName);
    return true;
}

}  // namespace ControllerWaits
