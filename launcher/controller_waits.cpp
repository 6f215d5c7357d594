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
    std::set<Drux::Waker*> waiting;
};

Registry& registry() {
    static Registry r;
    return r;
}

thread_local int t_callbackDepth = 0;

}  // namespace

void Open() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    r.closing = false;
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
    return r.closing;
}

bool Sleep(uint32_t milliseconds) {
    Registry& r = registry();
    Drux::Waker waker;
    {
        std::lock_guard<std::mutex> guard(r.mutex);
        if (r.closing) return false;
        r.waiting.insert(&waker);
    }
    waker.waitFor(milliseconds);
    std::lock_guard<std::mutex> guard(r.mutex);
    r.waiting.erase(&waker);
    return !r.closing;
}

CallbackScope::CallbackScope() { ++t_callbackDepth; }
CallbackScope::~CallbackScope() { --t_callbackDepth; }
bool InsideCallback() { return t_callbackDepth > 0; }

bool RefusedInsideCallback(const char* exportName) {
    if (!InsideCallback()) return false;
    Drux::LogErrorF(320, "%s cannot be called from inside a controller callback.\n", exportName);
    return true;
}

}  // namespace ControllerWaits
