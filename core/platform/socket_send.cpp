// The part of a send that is the same on every system: empty pieces are left
// out, at most kMaxSendPieces go into one call, and a short send armed by a
// test cuts the gathered bytes before the back-end's sendPieces sees them.
#include "core/platform/fault_injection.h"
#include "core/platform/platform.h"
#include "core/platform/socket.h"

namespace Drux {

size_t keepFirstBytes(ByteSpan* pieces, size_t count, size_t limit) {
    size_t kept = 0;
    while (kept < count && limit > 0) {
        if (pieces[kept].length > limit) pieces[kept].length = limit;
        limit -= pieces[kept].length;
        ++kept;
    }
    return kept;
}

IoResult socketSendSome(SocketHandle socket, const ByteSpan* parts, size_t count, size_t* sent) {
    *sent = 0;
    ByteSpan pieces[kMaxSendPieces];
    size_t used = 0;
    size_t total = 0;
    for (size_t i = 0; i < count && used < kMaxSendPieces; ++i) {
        if (parts[i].length == 0) continue;
        pieces[used++] = parts[i];
        total += parts[i].length;
    }
    used = keepFirstBytes(pieces, used, injectedSendLength(total));
    if (used == 0) return IoResult::Done;
    return sendPieces(socket, pieces, used, sent);
}

}  // namespace Drux
