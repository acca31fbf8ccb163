// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "core/DescriptorWatching.h"
#include "core/MainThreadExecutor.h"

namespace kelvra {

/// A deterministic main thread: posted work waits until the thread that created the executor
/// runs it through `runPending`, `runUntil` or `advance`. Delayed work follows a virtual clock
/// that only `advance` moves, so timers never race the wall clock. Watched descriptors are
/// polled whenever posted work is run.
class ManualMainThreadExecutor final : public MainThreadExecutor, public DescriptorWatching {
public:
    ManualMainThreadExecutor() = default;

    void post(std::function<void()> work) override;
    CancellableWork postDelayed(Duration delay, std::function<void()> work) override;
    bool isMainThread() const override;
    std::unique_ptr<Watch> watchReadable(int descriptor, std::function<void()> readable) override;

    /// Runs the work posted so far, and whatever that work posts, until none is left.
    /// Delayed work runs only once it is due on the virtual clock. Returns how many items ran.
    int runPending();

    /// Runs posted work as it arrives until `condition` holds; false when `limit` (real time)
    /// passed first. The condition is checked after each batch of work and at least every few
    /// milliseconds.
    bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

    /// Like `runUntil`, with the virtual clock following the real one: for tests whose timers
    /// wait on the outside world, such as a real network change settling.
    bool runInRealTimeUntil(const std::function<bool()>& condition,
                            std::chrono::milliseconds limit);

    /// Moves the virtual clock forward by `duration`, running immediate work and every delayed
    /// item as its time comes, in deadline order. Returns how many items ran.
    int advance(Duration duration);

private:
    struct Delayed {
        std::function<void()> work;
        CancellableWork handle;
    };

    class DescriptorWatch;

    std::function<void()> takeNext();
    /// Queues the callbacks of the watched descriptors that are readable within `timeout`;
    /// false when none are.
    bool pollWatches(std::chrono::milliseconds timeout);

    const std::thread::id mainThread_ = std::this_thread::get_id();
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
    // Keyed by deadline, then posting order, so equal deadlines keep their order.
    std::map<std::pair<Duration, std::uint64_t>, Delayed> delayed_;
    std::uint64_t nextSequence_ = 0;
    Duration now_{};
    std::map<std::uint64_t, std::pair<int, std::shared_ptr<std::function<void()>>>> watches_;
    std::uint64_t nextWatch_ = 0;
};

}  // namespace kelvra
