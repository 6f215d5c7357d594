// The machine-wide launcher marker on POSIX: a Unix socket bound to an
// abstract-namespace name. The name exists while the descriptor is open and the
// kernel removes it when the owner dies, as a named semaphore does on Windows.
#include "core/platform/shared_mutex.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace Drux {
namespace {
constexpr char kName[] = "DRUX_VANTREL_MUTEX";
}

SharedMutex::SharedMutex() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // sun_path[0] stays NUL: the abstract namespace, no file in the file system.
    std::memcpy(address.sun_path + 1, kName, sizeof kName - 1);
    const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + sizeof kName - 1);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        // EADDRINUSE: the object already exists (the "already exists" case).
        ::close(fd);
        return;
    }
    handle_ = fd;
}

SharedMutex::~SharedMutex() {
    if (handle_ >= 0) ::close(handle_);
}

boost::shared_ptr<SharedMutex> createSharedMutex() { return boost::shared_ptr<SharedMutex>(new SharedMutex); }

}  // namespace Drux
