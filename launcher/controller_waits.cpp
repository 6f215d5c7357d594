#include "launcher/controller_waits.h"

#include <mutex>
#include <set>

#include "core/log.h"
#include "core/platform/clock.h"

namespace ControllerWaits {
namespace {

struct Registry {
    std::mutex mutex;
    bool closing = false;
    uint64_t generation = 0;  // one per controller
    int activeHandlers = 0;
    std::set<Drux::Waker*> waiting;
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
    return r.closing || (t_handlerGeneration != 0 && t_handlerGeneration != r.generation);
}

}  // namespace

void Open() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    r.closing = false;
    ++r.generation;
}

void Close() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    r.closing = true;
    for (Drux::Waker* waker : r.waiting) waker->notify();
}

bool Closing() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    return closingLocked(r);
}

bool Sleep(uint32_t milliseconds) {
    Registry& r = registry();
    Drux::Waker waker;
    {
        std::lock_guard<std::mutex> guard(r.mutex);
        if (closingLocked(r)) return false;
        r.waiting.insert(&waker);
    }
    waker.waitFor(milliseconds);
    std::lock_guard<std::mutex> guard(r.mutex);
    r.waiting.erase(&waker);
    return !closingLocked(r);
}

HandlerScope::HandlerScope() : previousGeneration_(t_handlerGeneration) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    ++r.activeHandlers;
    t_handlerGeneration = r.generation;
}

HandlerScope::~HandlerScope() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    t_handlerGeneration = previousGeneration_;
    if (--r.activeHandlers == 0 && r.closing) r.handlersDone.notify();
}

bool WaitForHandlers(uint32_t milliseconds) {
    Registry& r = registry();
    const uint32_t start = Drux::tickMilliseconds();
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(r.mutex);
            if (r.activeHandlers == 0) return true;
        }
        const uint32_t elapsed = Drux::tickMilliseconds() - start;
        if (elapsed >= milliseconds) return false;
        r.handlersDone.waitFor(milliseconds - elapsed);
    }
}

CallbackScope::CallbackScope() { ++t_callbackDepth; }
CallbackScope::~CallbackScope() { --t_callbackDepth; }

bool RefusedInsideCallback(const char* exportName) {
    if (t_callbackDepth == 0) return false;
    Drux::LogErrorF(320, "%s cannot be called from inside a controller callback.\n", exportName);
    return true;
}

}  // namespace ControllerWaits
