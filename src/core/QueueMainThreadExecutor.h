// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <thread>

#include "core/DescriptorWatching.h"
#include "core/MainThreadExecutor.h"

namespace kelvra {

/// A main thread for a program without an event loop, such as the smoke test: a thread of its
/// own runs posted work in order, delayed work once due, and the callbacks of watched
/// descriptors, so the program waits only for the results it needs.
///
/// Destruction drops work that has not started and waits for the running item; when the last
/// owner lets go from that item, the thread finishes it and ends by itself.
class QueueMainThreadExecutor final : public MainThreadExecutor, public DescriptorWatching {
public:
    QueueMainThreadExecutor();
    ~QueueMainThreadExecutor() override;
    QueueMainThreadExecutor(const QueueMainThreadExecutor&) = delete;
    QueueMainThreadExecutor& operator=(const QueueMainThreadExecutor&) = delete;

    void post(std::function<void()> work) override;
    CancellableWork postDelayed(Duration delay, std::function<void()> work) override;
    bool isMainThread() const override;
    std::unique_ptr<Watch> watchReadable(int descriptor, std::function<void()> readable) override;

private:
    struct State;
    class DescriptorWatch;

    static void run(const std::shared_ptr<State>& state);

    // Shared with the thread and the watches, which may outlive the executor.
    const std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace kelvra
