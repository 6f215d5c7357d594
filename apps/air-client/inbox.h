// The messages that the AIR client has received and not yet consumed by a
// wait, filled by the agent's reading thread and read by the command runner.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace DruxAir {

class Inbox {
public:
    enum class Outcome { Found, TimedOut, Closed, Lost, Interrupted };
    // Tells a wait that the connection has gone (the agent's flag is polled).
    using LostTest = std::function<bool()>;

    // From the reading thread. A CLOSE also marks the run as closed by the launcher.
    void push(int32_t type, const char* payload);
    void countReply();
    // Signal handlers may set this; every wait returns Interrupted soon after.
    static void interruptFromSignal();
    static bool interrupted();

    // Waits for the first unread message of the type whose payload contains
    // text and consumes it alone: messages that arrive on different
    // connections of the launcher may be relayed in either order, so a wait
    // never discards what a later wait may look for. A CLOSE from the
    // launcher ends a wait for anything else with Closed.
    Outcome waitFor(int32_t type, const std::string& text, double seconds, const LostTest& lost,
                    std::optional<std::string>* payload);
    // Sleeps; returns early (Closed, Lost, Interrupted) and otherwise TimedOut.
    Outcome pause(double seconds, const LostTest& lost);
    // Until the launcher closes the run, the connection goes or a signal comes.
    Outcome idle(const LostTest& lost);
    uint64_t replies();
    // Whether a reply beyond `seen` arrives within the time.
    bool waitReply(uint64_t seen, double seconds);
    bool closedByLauncher();

private:
    struct Message {
        int32_t type;
        std::optional<std::string> payload;
    };
    Outcome waitUntil(double seconds, const LostTest& lost, const std::function<bool()>& done,
                      std::unique_lock<std::mutex>& lock);

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Message> unread_;
    uint64_t replies_ = 0;
    bool closed_ = false;
};

}  // namespace DruxAir
