// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "server_config/HubNetworkServiceMonitor.h"
#include "support/ManualMainThreadExecutor.h"

namespace kelvra::testing {

/// A network monitor over `source` whose reports are recorded with the time they reached the
/// main thread.
struct RecordedNetworkChanges {
    using Clock = std::chrono::steady_clock;

    explicit RecordedNetworkChanges(
        std::shared_ptr<NetworkChangeSource> source,
        std::chrono::milliseconds debounce = HubNetworkServiceMonitor::defaultDebounceInterval)
        : monitor(HubNetworkServiceMonitor::create(mainThread, std::move(source), debounce)) {
        monitor->setOnChange([this] {
            alwaysOnMainThread = alwaysOnMainThread && mainThread->isMainThread();
            times.push_back(Clock::now());
        });
    }

    /// Runs the main thread until `count` changes were reported, or `limit` passed.
    bool runUntil(size_t count, std::chrono::milliseconds limit) {
        return mainThread->runUntil([&] { return times.size() >= count; }, limit);
    }

    std::shared_ptr<ManualMainThreadExecutor> mainThread =
        std::make_shared<ManualMainThreadExecutor>();
    std::vector<Clock::time_point> times;
    bool alwaysOnMainThread = true;
    std::shared_ptr<HubNetworkServiceMonitor> monitor;
};

}  // namespace kelvra::testing
