// The socket functions that every back-end shares, written once on top of the
// back-end's own calls.
#include "core/platform/socket.h"

namespace Drux {

WaitResult waitReadable(SocketHandle socket, const Interrupter& interrupter, int timeoutMs) {
    unsigned ready = 0;
    switch (waitSocket(socket, kSocketReadable, interrupter, timeoutMs, &ready)) {
        case SocketWait::Ready:
            // Readable, closed by the peer, or in error: the next receive tells which.
            return WaitResult::Readable;
        case SocketWait::Interrupted:
            return WaitResult::Interrupted;
        case SocketWait::TimedOut:
            return WaitResult::TimedOut;
        case SocketWait::Failed:
            break;
    }
    return WaitResult::Failed;
}

}  // namespace Drux
