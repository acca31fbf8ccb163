// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "core/MainThreadExecutor.h"

namespace kelvra {

/// A deterministic main thread for tests: posted work waits until the thread that created the
/// executor runs it through `runPending` or `runUntil`.
class ManualMainThreadExecutor final : public MainThreadExecutor {
public:
    ManualMainThreadExecutor() = default;

    void post(std::function<void()> work) override;
    bool isMainThread() const override;

    /// Runs the work posted so far, and whatever that work posts, until none is left.
    /// Returns how many items ran.
    int runPending();

    /// Runs posted work as it arrives until `condition` holds; false when `limit` passed first.
    /// The condition is checked after each batch of work and at least every few milliseconds.
    bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

private:
    std::function<void()> takeNext();

    const std::thread::id mainThread_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
};

}  // namespace kelvra
