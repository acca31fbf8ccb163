// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "core/LogSink.h"

namespace kelvra {

/// How much of a backend's output is logged.
struct BackendOutputLimits {
    double linesPerSecond = 50;
    double burst = 200;
    std::chrono::steady_clock::duration reportInterval = std::chrono::seconds(5);
};

/// Logs what a backend prints, at a sustained rate with room for bursts, so that a chatty or
/// flooding backend cannot fill the disk or keep the log busy. The lines it holds back are
/// counted, and the count is logged instead of them at most every `reportInterval` while lines
/// keep coming, and by `flush`.
class BackendOutputLog final : public LogSink {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit BackendOutputLog(std::shared_ptr<LogSink> log, BackendOutputLimits limits = {},
                              Clock clock = std::chrono::steady_clock::now);

    void write(std::string_view category, std::string_view message) override;

    /// Logs the count of lines held back since the last report, if any.
    void flush();

private:
    void report(uint64_t heldBack);

    const std::shared_ptr<LogSink> log_;
    const BackendOutputLimits limits_;
    const Clock clock_;

    std::mutex mutex_;
    double allowance_;
    std::chrono::steady_clock::time_point refilled_;
    uint64_t heldBack_ = 0;
    std::chrono::steady_clock::time_point heldBackSince_;
};

}  // namespace kelvra
