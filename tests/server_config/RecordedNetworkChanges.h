// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <memory>

#include "server_config/HubNetworkServiceMonitor.h"
#include "support/ManualMainThreadExecutor.h"

namespace kelvra::testing {

/// A network monitor over `source` on a deterministic main thread, counting its reports.
struct RecordedNetworkChanges {
    explicit RecordedNetworkChanges(
        std::shared_ptr<NetworkChangeSource> source,
        std::shared_ptr<ManualMainThreadExecutor> executor =
            std::make_shared<ManualMainThreadExecutor>(),
        std::chrono::milliseconds debounce = HubNetworkServiceMonitor::defaultDebounceInterval)
        : mainThread(std::move(executor)),
          monitor(HubNetworkServiceMonitor::create(mainThread, std::move(source), debounce)) {
        monitor->setOnChange([this] {
            alwaysOnMainThread = alwaysOnMainThread && mainThread->isMainThread();
            ++reports;
        });
    }

    /// Runs the main thread, its clock following the real one, until `count` changes were
    /// reported, or `limit` passed.
    bool runUntil(size_t count, std::chrono::milliseconds limit) {
        return mainThread->runInRealTimeUntil([&] { return reports >= count; }, limit);
    }

    std::shared_ptr<ManualMainThreadExecutor> mainThread;
    size_t reports = 0;
    bool alwaysOnMainThread = true;
    std::shared_ptr<HubNetworkServiceMonitor> monitor;
};

}  // namespace kelvra::testing
