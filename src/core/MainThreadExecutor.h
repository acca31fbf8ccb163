// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <functional>

#include "core/CancellableWork.h"

namespace kelvra {

/// Where work that must run "on the main thread" goes: the Qt event loop in the application,
/// a manually driven queue in tests. Posting is safe from any thread; immediate work runs in
/// posting order. Work posted after the main loop has ended is dropped without running.
class MainThreadExecutor {
public:
    using Duration = std::chrono::steady_clock::duration;

    virtual ~MainThreadExecutor() = default;

    virtual void post(std::function<void()> work) = 0;

    /// Runs `work` on the main thread once `delay` has passed, unless the returned handle is
    /// cancelled first. Work due at the same time runs in posting order.
    virtual CancellableWork postDelayed(Duration delay, std::function<void()> work) = 0;

    /// Whether the caller runs on the thread that runs posted work.
    virtual bool isMainThread() const = 0;
};

}  // namespace kelvra
