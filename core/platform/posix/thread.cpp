// Threads on POSIX: joinable pthreads, joined once their record has run (the
// shared part gives them a completion signal of its own, since pthread_join
// cannot time out) and detached when nobody waited for them.
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "core/platform/platform.h"
#include "core/platform/thread.h"
#include "core/platform/fault_injection.h"

namespace Drux {
namespace {

void* threadEntry(void* record) {
    runThreadRecord(record);
    return nullptr;
}

}  // namespace

bool startSystemThread(void* record, NativeThread* thread) {
    const int started =
        injectedFault(Fault::ThreadStart) ? EAGAIN : pthread_create(thread, nullptr, threadEntry, record);
    if (started != 0) {
        errno = started;
        return false;
    }
    return true;
}

bool terminateSystemThread(NativeThread) { return false; }

void awaitSystemThreadExit(NativeThread thread) { pthread_join(thread, nullptr); }

void releaseSystemThread(NativeThread thread, bool exitAwaited) {
    if (!exitAwaited) pthread_detach(thread);
}

uint32_t currentThreadId() {
    thread_local const uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
    return id;
}

void sleepMilliseconds(uint32_t milliseconds) {
    timespec request{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}

}  // namespace Drux
