// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/CancellableWork.h"
#include "core/DescriptorWatching.h"

namespace kelvra {

/// Runs work items one at a time, in order, on a thread of its own. Delayed items run once
/// their time has come, in deadline order, when no immediate item waits; watched descriptors call
/// back on the same thread when they have something to read.
///
/// Destruction discards items that have not started and waits for the running one. When the
/// last owner lets go from inside one of the queue's own items, the thread finishes that item
/// and ends by itself.
class SerialQueue {
public:
    using Clock = std::chrono::steady_clock;

    /// `label` names the queue in diagnostics; the OS thread is named after its last dotted part.
    explicit SerialQueue(std::string label);
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    /// Queues `work` to run after everything queued before it.
    void async(std::function<void()> work);

    /// Queues `work` to run once `delay` has passed, unless it is cancelled first.
    CancellableWork asyncAfter(Clock::duration delay, std::function<void()> work);

    /// Runs `work` on the queue and waits for it; false, without running it, when the queue is
    /// shutting down. Must not be called from the queue itself.
    [[nodiscard]] bool sync(std::function<void()> work);

    /// Calls `readable` on the queue, as `DescriptorWatching` describes, while the watch lives.
    /// The watch may outlive the queue; it then calls nothing.
    std::unique_ptr<DescriptorWatching::Watch> watchReadable(int descriptor,
                                                             std::function<void()> readable);

    /// Whether the caller runs on this queue's thread.
    bool isCurrent() const;

private:
    struct State;
    class DescriptorWatch;

    static void run(const std::shared_ptr<State>& state);

    const std::string label_;
    // Shared with the thread and the watches, which may outlive this object.
    const std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace kelvra
