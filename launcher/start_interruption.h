// A start blocks the host's thread for the AIR client's start pauses. A host
// that watches for Ctrl-C on another thread stops the controller from there,
// and that Stop cuts the start short instead of leaving it to finish.
#pragma once

struct VantrelServerControllerStruct;

namespace StartInterruption {

// Marks the calling start as in progress for its lifetime.
class StartScope {
public:
    StartScope();
    ~StartScope();
    StartScope(const StartScope&) = delete;
    StartScope& operator=(const StartScope&) = delete;

    // Whether a Stop has come since the start began.
    bool stopped() const;
    // Marks the controller started, unless a Stop has come: false then, and
    // the controller stays stopped.
    bool finish(VantrelServerControllerStruct* controller);
};

// VantrelServerController_Stop: the controller is no longer started, and a
// start in progress ends its pauses at once. Only the start's own waits are
// cut: a handler's wait (a game's end, a CLOSE's grace) runs as it would after
// an ordinary Stop.
void interrupt(VantrelServerControllerStruct* controller);

}  // namespace StartInterruption
