// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "backend/BackendSupervising.h"
#include "clicker/ClickerInputMonitoring.h"
#include "core/MainThreadExecutor.h"

namespace kelvra {

/// Where delivered clicker input goes: to the current backend, or, while the Clicker
/// Distributor window's input test runs, Previous and Next to the window and custom actions
/// nowhere. `route` is called on the keyboard listener's tap thread, everything else on the
/// main thread. A key for the backend is written by `route` itself, without allocating or
/// blocking; the lock is held only to copy what `route` reads. Only a key of the input test is
/// posted to the main thread.
class ClickerInputRouter {
public:
    /// `onTestInput` runs on the main thread for each Previous or Next key of a test.
    ClickerInputRouter(std::shared_ptr<MainThreadExecutor> mainThread,
                       std::function<void(ClickerDirection)> onTestInput);

    /// The backend that takes keys; none while it starts, restarts or is gone.
    void setBackend(std::shared_ptr<BackendSupervising> backend);
    std::shared_ptr<BackendSupervising> backend() const;
    void setInputTestRequired(bool required);

    /// From the tap thread.
    void route(const ClickerCapturedInput& input);

private:
    const std::shared_ptr<MainThreadExecutor> mainThread_;
    const std::function<void(ClickerDirection)> onTestInput_;

    mutable std::mutex lock_;
    std::shared_ptr<BackendSupervising> backend_;
    std::shared_ptr<ClickerCommandInput> commands_;
    bool inputTestRequired_ = false;
};

}  // namespace kelvra
