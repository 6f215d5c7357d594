#include "operation.h"

#include "version_store.h"

namespace DruxPatcher {

bool Operation::begin(const std::string& version, std::string* error) {
    std::lock_guard<std::mutex> guard(lock_);
    if (running_) {
        *error = "another " + kind_ + " (" + version_ + ") is running";
        return false;
    }
    running_ = true;
    cancel_ = false;
    version_ = version;
    state_ = "running";
    reason_.clear();
    details_.clear();
    percent_ = 0;
    return true;
}

void Operation::progress(uint64_t done, uint64_t total) {
    std::lock_guard<std::mutex> guard(lock_);
    percent_ = total == 0 ? 0 : static_cast<int>(done * 100 / total);
}

void Operation::finish(bool ok, const std::string& reason, const std::string& details) {
    std::lock_guard<std::mutex> guard(lock_);
    running_ = false;
    state_ = ok ? "complete" : (cancel_.load() ? "cancelled" : "failed");
    if (ok) percent_ = 100;
    reason_ = reason;
    details_ = details;
}

int32_t Operation::run(const char* version, const Body& body) {
    const std::string v = version != nullptr ? version : "";
    std::string reason;
    if (!begin(v, &reason)) return 0;
    std::string details;
    const bool ok = body(v, &reason, &details);
    finish(ok, ok ? "" : reason, details);
    return ok ? 1 : 0;
}

bool Operation::cancel() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!running_) return false;
    cancel_ = true;
    return true;
}

std::string Operation::progressText() {
    std::lock_guard<std::mutex> guard(lock_);
    std::string text = "{\"operation\":" + jsonString(kind_) + ",\"version\":" + jsonString(version_) +
                       ",\"state\":" + jsonString(state_) + ",\"percent\":" + std::to_string(percent_);
    if (!reason_.empty()) text += ",\"reason\":" + jsonString(reason_);
    return text + details_ + "}";
}

}  // namespace DruxPatcher
