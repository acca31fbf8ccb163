// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "core/MainThreadExecutor.h"
#include "server_config/NetworkChangeSource.h"

namespace kelvra {

/// Tells its owner, once per burst and after a quiet period, that the network services may
/// have changed. The quiet period is a delayed task of the main thread, whose clock tests
/// drive; `onChange` runs on the main thread.
///
/// `start` and `stop` are called from the main thread. Once `stop` has returned, `onChange`
/// is not called again for anything seen before. Dropping the monitor stops it.
class HubNetworkServiceMonitor : public std::enable_shared_from_this<HubNetworkServiceMonitor> {
public:
    static constexpr std::chrono::milliseconds defaultDebounceInterval{1500};

    static std::shared_ptr<HubNetworkServiceMonitor> create(
        std::shared_ptr<MainThreadExecutor> mainThread,
        std::shared_ptr<NetworkChangeSource> changeSource,
        std::chrono::milliseconds debounceInterval = defaultDebounceInterval);

    ~HubNetworkServiceMonitor();
    HubNetworkServiceMonitor(const HubNetworkServiceMonitor&) = delete;
    HubNetworkServiceMonitor& operator=(const HubNetworkServiceMonitor&) = delete;

    void setOnChange(std::function<void()> onChange);

    /// Begins watching; does nothing while running, and stays stopped, silently, when the
    /// change source cannot start.
    void start();

    /// Stops watching and drops any pending notification; does nothing while stopped.
    void stop();

    bool isRunning() const;

private:
    HubNetworkServiceMonitor(std::shared_ptr<MainThreadExecutor> mainThread,
                             std::shared_ptr<NetworkChangeSource> changeSource,
                             std::chrono::milliseconds debounceInterval);

    /// Restarts the quiet period.
    void networkChanged();
    /// On the main thread: the quiet period of `run` has passed.
    void notify(uint64_t run);

    const std::shared_ptr<MainThreadExecutor> mainThread_;
    const std::shared_ptr<NetworkChangeSource> changeSource_;
    const std::chrono::milliseconds debounceInterval_;

    mutable std::mutex mutex_;
    std::function<void()> onChange_;
    bool running_ = false;
    /// Counts starts and stops, so that work of an earlier run recognises itself as stale.
    uint64_t run_ = 0;
    CancellableWork debounceWorkItem_;
};

}  // namespace kelvra
