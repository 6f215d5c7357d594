// The interrupter on POSIX: an eventfd, readable while its counter is not 0.
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
    // The counter is read back only by reset(), so the descriptor stays readable.
    const uint64_t one = 1;
    const ssize_t ignored = ::write(fd_, &one, sizeof one);
    (void)ignored;
}

void Interrupter::reset() {
    // Reading an eventfd takes its whole counter back to 0; an empty one
    // (EAGAIN, the descriptor is non-blocking) is already reset.
    uint64_t count = 0;
    const ssize_t ignored = ::read(fd_, &count, sizeof count);
    (void)ignored;
}

}  // namespace Drux
