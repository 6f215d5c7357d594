// The state of one kind of patch operation (install, install preview,
// uninstall, uninstall preview), shown by its progress entry point as
//   {"operation":"install","version":"1.1.0","state":"running","percent":40,...}
// with state "idle", "running", "complete", "cancelled" or "failed".
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace DruxPatcher {

class Operation {
public:
    explicit Operation(std::string kind) : kind_(std::move(kind)) {}

    // Marks the operation as running for the version; false (with *error)
    // when one of this kind already runs.
    bool begin(const std::string& version, std::string* error);
    void progress(uint64_t done, uint64_t total);
    // Ends it: complete, or failed/cancelled with the reason. details are
    // extra JSON members (",\"bytes\":12") added to the progress text.
    void finish(bool ok, const std::string& reason, const std::string& details = "");
    // One whole operation for the version (null: ""), begin to finish: the
    // body says whether it succeeded and fills in the reason for a failure
    // and the extra JSON members. 1 when it succeeded; 0 when it failed or
    // another one of this kind was running.
    using Body = std::function<bool(const std::string& version, std::string* reason, std::string* details)>;
    int32_t run(const char* version, const Body& body);
    // Asks a running operation to stop; false when none runs.
    bool cancel();
    const std::atomic<bool>& cancelRequested() const { return cancel_; }
    std::string progressText();

private:
    const std::string kind_;
    std::mutex lock_;
    std::string version_;
    std::string state_ = "idle";
    std::string reason_;
    std::string details_;
    int percent_ = 0;
    bool running_ = false;
    std::atomic<bool> cancel_{false};
};

}  // namespace DruxPatcher
