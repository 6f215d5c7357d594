// Appending to a closed file on POSIX: open with O_APPEND, one write, close.
#include "core/platform/file_append.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace Drux {

bool appendToFile(const char* path, const void* data, size_t length) {
    if (path == nullptr) return false;
    // The file mostly exists: an open without O_CREAT walks the path without
    // taking the directory's lock, which a create must take.
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == ENOENT) {
        do {
            fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
    }
    if (fd < 0) return false;
    const auto* bytes = static_cast<const char*>(data);
    bool written = true;
    while (length > 0) {
        const ssize_t n = ::write(fd, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            written = false;
            break;
        }
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    // Keep the write's error, not close's.
    const int error = errno;
    ::close(fd);
    errno = error;
    return written;
}

}  // namespace Drux
