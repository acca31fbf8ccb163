// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

namespace kelvra {

/// Where work that must run "on the main thread" goes: the Qt event loop in the application,
/// a manually driven queue in tests. Posting is safe from any thread; work runs in posting order.
class MainThreadExecutor {
public:
    virtual ~MainThreadExecutor() = default;

    virtual void post(std::function<void()> work) = 0;

    /// Whether the caller runs on the thread that runs posted work.
    virtual bool isMainThread() const = 0;
};

}  // namespace kelvra
