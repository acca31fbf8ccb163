// SPDX-License-Identifier: MIT
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "core/MainThreadExecutor.h"

namespace kelvra {

/// Runs asynchronous operations one after another on the main thread: each begins once the
/// one before it has called its `done`. Used on the main thread only.
class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
public:
    struct Operation {
        /// Does the work and calls `done` exactly once, now or later.
        std::function<void(std::function<void()> done)> run;
        /// Answers the operation's caller when it will never run.
        std::function<void()> abandon;
    };

    static std::shared_ptr<OperationQueue> create(std::shared_ptr<MainThreadExecutor> mainThread);

    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    /// Runs `operation` now when nothing runs, else after what is queued before it. Once
    /// closed, abandons it at once.
    void enqueue(Operation operation);

    /// Abandons what waits and everything enqueued later; the running operation goes on.
    void close();

    /// Whether no operation runs or waits.
    bool isIdle() const { return !running_ && waiting_.empty(); }

    /// Runs `work` once no operation runs or waits (at once when none does).
    void whenIdle(std::function<void()> work);

private:
    explicit OperationQueue(std::shared_ptr<MainThreadExecutor> mainThread)
        : mainThread_(std::move(mainThread)) {}

    void runNext();
    void finished();

    const std::shared_ptr<MainThreadExecutor> mainThread_;
    std::deque<Operation> waiting_;
    std::vector<std::function<void()>> idleWaiters_;
    bool running_ = false;
    bool closed_ = false;
};

}  // namespace kelvra
