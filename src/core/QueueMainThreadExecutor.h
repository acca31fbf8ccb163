// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>

#include "core/DescriptorWatching.h"
#include "core/MainThreadExecutor.h"
#include "core/SerialQueue.h"

namespace kelvra {

/// A main thread for a program without an event loop, such as the smoke test: a serial queue
/// named "main" runs posted work, delayed work once due, and the callbacks of watched
/// descriptors, so the program waits only for the results it needs. Destruction behaves as the
/// queue's does.
class QueueMainThreadExecutor final : public MainThreadExecutor, public DescriptorWatching {
public:
    void post(std::function<void()> work) override { queue_.async(std::move(work)); }
    CancellableWork postDelayed(Duration delay, std::function<void()> work) override {
        return queue_.asyncAfter(delay, std::move(work));
    }
    bool isMainThread() const override { return queue_.isCurrent(); }
    std::unique_ptr<Watch> watchReadable(int descriptor, std::function<void()> readable) override {
        return queue_.watchReadable(descriptor, std::move(readable));
    }

private:
    SerialQueue queue_{"main"};
};

}  // namespace kelvra
