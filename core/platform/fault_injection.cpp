#include "core/platform/fault_injection.h"

#include <atomic>

namespace Drux {
namespace {

constexpr int kFaults = static_cast<int>(Fault::Allocation) + 1;
std::atomic<uint32_t> g_armed[kFaults];

}  // namespace

bool injectedFault(Fault fault) {
    std::atomic<uint32_t>& armed = g_armed[static_cast<int>(fault)];
    uint32_t left = armed.load(std::memory_order_relaxed);
    while (left > 0) {
        if (armed.compare_exchange_weak(left, left - 1)) return true;
    }
    return false;
}

size_t injectedSendLength(size_t length) {
    if (length < 2 || !injectedFault(Fault::ShortSend)) return length;
    return length / 2;
}

namespace testing {
void failNext(Fault fault, uint32_t count) { g_armed[static_cast<int>(fault)].store(count); }

uint32_t faultsLeft(Fault fault) { return g_armed[static_cast<int>(fault)].load(); }

void clearFaults() {
    for (std::atomic<uint32_t>& armed : g_armed) armed.store(0);
}
}  // namespace testing

}  // namespace Drux
