// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/MainThreadExecutor.h"
#include "core/SerialQueue.h"
#include "server_config/NetworkChangeSource.h"

namespace kelvra {

/// Tells its owner, once per burst and after a quiet period, that the network services may
/// have changed. Changes are debounced on the monitor's own serial queue; `onChange` runs on
/// the main thread.
///
/// `start` and `stop` are called from the main thread. Once `stop` has returned, `onChange`
/// is not called again for anything seen before, even a notification already on its way to
/// the main thread. Dropping the monitor stops it.
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

    /// `AppIdentifierPrefix` + ".network-monitor".
    const std::string& queueLabel() const { return queue_.label(); }

private:
    HubNetworkServiceMonitor(std::shared_ptr<MainThreadExecutor> mainThread,
                             std::shared_ptr<NetworkChangeSource> changeSource,
                             std::chrono::milliseconds debounceInterval);

    /// On the queue: restarts the quiet period.
    void networkChanged();
    /// On the queue: the quiet period of `run` has passed.
    void debounceElapsed(uint64_t run);
    /// On the main thread.
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

    // Declared last: destroyed first, so no queued work outlives the fields it uses.
    SerialQueue queue_;
};

}  // namespace kelvra
