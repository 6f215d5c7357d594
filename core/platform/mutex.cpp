// The owner-tracking mutex: a plain lock plus the holder's thread id.
#include "core/platform/mutex.h"

#include <cstdio>
#include <cstdlib>

#include "core/platform/thread.h"

namespace Drux {
namespace {

[[noreturn]] void violation(const char* what) {
    char text[160];
    const int length = std::snprintf(text, sizeof text, "Drux::Mutex: %s (thread %u)\n", what, currentThreadId());
    // Standard error is unbuffered: the line is out before the process ends.
    if (length > 0) std::fputs(text, stderr);
    std::abort();
}

}  // namespace

void Mutex::lock() {
    const uint32_t self = currentThreadId();
    if (owner_.load() == self) violation("locked twice by one thread");
    section_.lock();
    owner_.store(self);
}

void Mutex::unlock() {
    if (owner_.load() != currentThreadId()) violation("unlocked by a thread that does not hold it");
    owner_.exchange(0);
    section_.unlock();
}

boost::shared_ptr<Mutex> createMutex() { return boost::shared_ptr<Mutex>(new Mutex); }

ScopedLock::ScopedLock(const boost::shared_ptr<Mutex>& mutex) : mutex_(mutex.get()) {
    if (mutex_ != nullptr) mutex_->lock();
}

ScopedLock::~ScopedLock() {
    if (mutex_ != nullptr) mutex_->unlock();
}

}  // namespace Drux
