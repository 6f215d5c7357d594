#include "process/process_waits.h"

#include "core/interruptible_waits.h"

namespace ProcessWaits {
namespace {

Drux::InterruptibleWaits& waits() {
    static Drux::InterruptibleWaits w;
    return w;
}

}  // namespace

void Interrupt() { waits().interrupt(); }
void Resume() { waits().resume(); }
void InterruptThread(std::thread::id thread) { waits().interruptThread(thread); }
void ResumeThread(std::thread::id thread) { waits().resumeThread(thread); }
bool Interrupted() { return waits().interrupted(); }
bool Pause(uint32_t milliseconds) { return waits().sleep(milliseconds); }
bool WaitForExit(Drux::ProcessId processId, uint32_t timeoutMs) {
    return waits().waitForProcessExit(processId, timeoutMs);
}
size_t InProgress() { return waits().inProgress(); }

}  // namespace ProcessWaits
