// The machine-wide launcher marker on Windows: the named semaphore itself. It
// exists while a handle is open; the system closes the handles of a process
// that dies, so a crashed launcher leaves nothing behind.
#include "core/platform/shared_mutex.h"

#include "core/platform/win32/windows_headers.h"

namespace Drux {

SharedMutex::SharedMutex() {
    HANDLE semaphore = ::CreateSemaphoreA(nullptr, 1, 1, "DRUX_VANTREL_MUTEX");
    if (semaphore == nullptr) return;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {  // 183: another launcher holds it
        ::CloseHandle(semaphore);
        return;
    }
    handle_ = semaphore;
}

SharedMutex::~SharedMutex() {
    if (handle_ != kInvalidNativeHandle) ::CloseHandle(handle_);
}

boost::shared_ptr<SharedMutex> createSharedMutex() { return boost::shared_ptr<SharedMutex>(new SharedMutex); }

}  // namespace Drux
