// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "core/LogSink.h"

namespace kelvra::testing {

/// A log that keeps its lines ("[category] message") in memory for tests to read and wait for.
class RecordingLog final : public LogSink {
public:
    void write(std::string_view category, std::string_view message) override {
        {
            std::lock_guard lock(mutex_);
            lines_.push_back("[" + std::string(category) + "] " + std::string(message));
        }
        changed_.notify_all();
    }

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

    bool contains(const std::string& line) const { return count(line) > 0; }

    size_t count(const std::string& line) const {
        std::lock_guard lock(mutex_);
        return static_cast<size_t>(std::count(lines_.begin(), lines_.end(), line));
    }

    /// Waits until `line` has been written; false after `limit`.
    bool waitFor(const std::string& line,
                 std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
        });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
};

}  // namespace kelvra::testing
