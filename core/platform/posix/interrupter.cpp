// The interrupter on POSIX: an eventfd whose counter is never read back.
#include "core/platform/interrupter.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace Drux {

Interrupter::Interrupter() { fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

Interrupter::~Interrupter() {
    if (fd_ >= 0) ::close(fd_);
}

void Interrupter::signal() {
    // The counter is never read back, so the descriptor stays readable.
    const uint64_t one = 1;
    const ssize_t ignored = ::write(fd_, &one, sizeof one);
    (void)ignored;
}

}  // namespace Drux
