// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <shared_mutex>
#include <thread>

#include "core/DescriptorWatching.h"
#include "core/MainThreadExecutor.h"

namespace kelvra {

/// The main thread of the Qt application: work runs as queued calls on the application object,
/// delayed work on precise single-shot timers. Create it on the thread that runs the loop, after
/// the application object. Once the loop has ended (or `end()` was called) work is dropped,
/// including work already queued, so nothing reaches objects that are being torn down.
/// Descriptors are watched by socket notifiers in the same loop.
class QtMainThreadExecutor final : public MainThreadExecutor, public DescriptorWatching {
public:
    QtMainThreadExecutor();

    void post(std::function<void()> work) override;
    CancellableWork postDelayed(Duration delay, std::function<void()> work) override;
    bool isMainThread() const override;
    std::unique_ptr<Watch> watchReadable(int descriptor, std::function<void()> readable) override;

    /// Drops all later work. Called when the loop ends; safe to call again.
    void end();

private:
    // Shared with the queued calls and timers, which may outlive the executor.
    struct State {
        const std::thread::id mainThread = std::this_thread::get_id();
        // Posters share it; `end()` takes it alone, so no post touches the application after.
        std::shared_mutex mutex;
        bool ended = false;

        bool hasEnded();
    };

    const std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace kelvra
