// The interrupter on POSIX: an eventfd, readable while its counter is not zero.
#include "core/platform/interrupter.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace Drux {

Interrupter::Interrupter() { handle_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

Interrupter::~Interrupter() {
    if (handle_ >= 0) ::close(handle_);
}

void Interrupter::signal() {
    // The counter is read back only by reset(), so the descriptor stays readable.
    const uint64_t one = 1;
    const ssize_t ignored = ::write(handle_, &one, sizeof one);
    (void)ignored;
}

void Interrupter::reset() {
    // Reading the counter zeroes it; an empty counter fails with EAGAIN, which
    // is already the state wanted.
    uint64_t count = 0;
    const ssize_t ignored = ::read(handle_, &count, sizeof count);
    (void)ignored;
}

}  // namespace Drux
