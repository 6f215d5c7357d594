#include "inbox.h"

#include <chrono>
#include <csignal>

#include "VantrelTypes.h"

namespace DruxAir {
namespace {
volatile std::sig_atomic_t g_interrupted = 0;
// How often a wait looks at the connection and the signal flag.
constexpr auto kCheckEvery = std::chrono::milliseconds(100);
}  // namespace

void Inbox::interruptFromSignal() { g_interrupted = 1; }
bool Inbox::interrupted() { return g_interrupted != 0; }

void Inbox::push(int32_t type, const char* payload) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        unread_.push_back({type, payload ? std::optional<std::string>(payload) : std::nullopt});
        if (type == VANTRELMESSAGETYPE_CLOSE) closed_ = true;
    }
    changed_.notify_all();
}

void Inbox::countReply() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        ++replies_;
    }
    changed_.notify_all();
}

Inbox::Outcome Inbox::waitUntil(double seconds, const LostTest& lost, const std::function<bool()>& done,
                                std::unique_lock<std::mutex>& lock) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000.0));
    for (;;) {
        if (done()) return Outcome::Found;
        if (closed_) return Outcome::Closed;
        if (interrupted()) return Outcome::Interrupted;
        lock.unlock();
        const bool gone = lost();
        lock.lock();
        if (gone && !done()) return Outcome::Lost;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return done() ? Outcome::Found : Outcome::TimedOut;
        changed_.wait_until(lock, std::min(deadline, now + kCheckEvery));
    }
}

Inbox::Outcome Inbox::waitFor(int32_t type, const std::string& text, double seconds, const LostTest& lost,
                              std::optional<std::string>* payload) {
    std::unique_lock<std::mutex> lock(lock_);
    auto found = [&]() {
        for (auto it = unread_.begin(); it != unread_.end(); ++it) {
            if (it->type == type && (text.empty() || (it->payload && it->payload->find(text) != std::string::npos))) {
                *payload = it->payload;
                unread_.erase(it);
                return true;
            }
        }
        return false;
    };
    // done() is looked at before the closed flag, so a wait for CLOSE itself finds it.
    bool matched = false;
    return waitUntil(
        seconds, lost, [&]() { return matched || (matched = found()); }, lock);
}

Inbox::Outcome Inbox::pause(double seconds, const LostTest& lost) {
    std::unique_lock<std::mutex> lock(lock_);
    return waitUntil(
        seconds, lost, [] { return false; }, lock);
}

Inbox::Outcome Inbox::idle(const LostTest& lost) {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        const Outcome outcome = waitUntil(
            3600, lost, [] { return false; }, lock);
        if (outcome != Outcome::TimedOut) return outcome;
    }
}

uint64_t Inbox::replies() {
    std::lock_guard<std::mutex> guard(lock_);
    return replies_;
}

bool Inbox::waitReply(uint64_t seen, double seconds) {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000.0)),
                             [&] { return replies_ > seen; });
}

bool Inbox::closedByLauncher() {
    std::lock_guard<std::mutex> guard(lock_);
    return closed_;
}

}  // namespace DruxAir
