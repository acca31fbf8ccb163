// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kelvra {

/// A handle on work scheduled for later; cancelling it before it starts means it never runs.
/// Cancelling work that has started or finished does nothing. Copies share the same work.
class CancellableWork {
public:
    CancellableWork() = default;

    void cancel() const;
    bool isCancelled() const;

private:
    friend class SerialQueue;
    explicit CancellableWork(std::shared_ptr<std::atomic<bool>> cancelled)
        : cancelled_(std::move(cancelled)) {}

    std::shared_ptr<std::atomic<bool>> cancelled_;
};

/// Runs work items one at a time, in order, on a thread of its own. Delayed items run once
/// their time has come, in deadline order, between the immediate ones.
///
/// Destruction discards items that have not started, waits for the running one and joins the
/// thread; it must not happen on the queue's own thread.
class SerialQueue {
public:
    using Clock = std::chrono::steady_clock;

    /// `label` names the queue in diagnostics; the OS thread gets its last 15 bytes.
    explicit SerialQueue(std::string label);
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    /// Queues `work` to run after everything queued before it.
    void async(std::function<void()> work);

    /// Queues `work` to run once `delay` has passed, unless it is cancelled first.
    CancellableWork asyncAfter(Clock::duration delay, std::function<void()> work);

    /// Runs `work` on the queue and waits for it. Must not be called from the queue itself.
    void sync(std::function<void()> work);

    /// Whether the caller runs on this queue's thread.
    bool isCurrent() const;

private:
    struct Delayed {
        std::function<void()> work;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };

    void run();

    const std::string label_;
    std::mutex mutex_;
    std::condition_variable wakeUp_;
    std::deque<std::function<void()>> immediate_;
    std::multimap<Clock::time_point, Delayed> delayed_;
    bool shuttingDown_ = false;
    std::thread thread_;
};

}  // namespace kelvra
