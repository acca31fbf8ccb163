// SPDX-License-Identifier: MIT
#include "backend/BackendOutputLog.h"

#include <algorithm>
#include <string>
#include <utility>

namespace kelvra {

BackendOutputLog::BackendOutputLog(std::shared_ptr<LogSink> log, BackendOutputLimits limits,
                                   Clock clock)
    : log_(std::move(log)),
      limits_(limits),
      clock_(std::move(clock)),
      allowance_(limits.burst),
      refilled_(clock_()) {}

void BackendOutputLog::write(std::string_view category, std::string_view message) {
    bool admitted = false;
    uint64_t due = 0;
    {
        std::lock_guard lock(mutex_);
        const auto now = clock_();
        const std::chrono::duration<double> elapsed = now - refilled_;
        allowance_ = std::min(limits_.burst, allowance_ + elapsed.count() * limits_.linesPerSecond);
        refilled_ = now;
        admitted = allowance_ >= 1;
        if (admitted) {
            allowance_ -= 1;
        } else if (heldBack_++ == 0) {
            heldBackSince_ = now;
        }
        if (heldBack_ > 0 && now - heldBackSince_ >= limits_.reportInterval) {
            due = std::exchange(heldBack_, 0);
        }
    }
    report(due);
    if (admitted) {
        log_->write(category, message);
    }
}

void BackendOutputLog::flush() {
    uint64_t due = 0;
    {
        std::lock_guard lock(mutex_);
        due = std::exchange(heldBack_, 0);
    }
    report(due);
}

void BackendOutputLog::report(uint64_t heldBack) {
    if (heldBack > 0) {
        const std::string count = heldBack == 1
                                      ? "1 line from the server was"
                                      : std::to_string(heldBack) + " lines from the server were";
        log_->write("shell", count + " not logged because it printed too much.");
    }
}

}  // namespace kelvra
