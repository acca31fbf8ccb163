// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <utility>

#include "core/MainThreadExecutor.h"
#include "core/SerialQueue.h"

namespace kelvra {

/// A main thread for a program without an event loop, such as the smoke test: posted work runs
/// in order on a serial queue's thread, and the program waits for the results it needs.
class QueueMainThreadExecutor final : public MainThreadExecutor {
public:
    QueueMainThreadExecutor() : queue_("com.morvane.kelvrahub.main") {}

    void post(std::function<void()> work) override { queue_.async(std::move(work)); }

    CancellableWork postDelayed(Duration delay, std::function<void()> work) override {
        return queue_.asyncAfter(delay, std::move(work));
    }

    bool isMainThread() const override { return queue_.isCurrent(); }

private:
    SerialQueue queue_;
};

}  // namespace kelvra
