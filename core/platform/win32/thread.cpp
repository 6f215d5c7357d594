// Threads on Windows: started through the runtime library (_beginthreadex, so
// that its per-thread state is set up), ended forcibly with TerminateThread.
// The shared part gives every thread its completion signal and timed waits.
#include <process.h>

#include "core/platform/fault_injection.h"
#include "core/platform/platform.h"
#include "core/platform/thread.h"
#include "core/platform/win32/windows_headers.h"

namespace Drux {
namespace {

unsigned __stdcall threadEntry(void* record) {
    runThreadRecord(record);
    return 0;
}

}  // namespace

bool startSystemThread(void* record, NativeThread* thread) {
    if (injectedFault(Fault::ThreadStart)) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);  // what a refused start reports
        return false;
    }
    const uintptr_t handle = ::_beginthreadex(nullptr, 0, threadEntry, record, 0, nullptr);
    if (handle == 0) return false;
    *thread = reinterpret_cast<NativeThread>(handle);
    return true;
}

bool terminateSystemThread(NativeThread thread) { return ::TerminateThread(thread, 0) != FALSE; }

void awaitSystemThreadExit(NativeThread thread) {
    // The thread has only its return left; a second is far beyond that
    // unless the waiter holds the loader lock its exit needs.
    constexpr DWORD kExitBoundMs = 1000;
    ::WaitForSingleObject(thread, kExitBoundMs);
}

void releaseSystemThread(NativeThread thread, bool) {
    if (thread != nullptr) ::CloseHandle(thread);
}

uint32_t currentThreadId() { return static_cast<uint32_t>(::GetCurrentThreadId()); }

void sleepMilliseconds(uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace Drux
