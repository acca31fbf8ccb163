// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "clicker/ClickerInputMonitoring.h"
#include "core/MainThreadExecutor.h"

namespace kelvra {

/// Decides when a keyboard listener exists: only while keyboard access is granted and either
/// distribution or an input test is wanted. Used on the main thread only.
///
/// Each listener serves one run; after `failed` the lifecycle keeps it until a reconcile drops
/// it. Reports reach the owner only from the current listener, so a replaced listener's late
/// `failed` cannot land after its successor's `listening`; dropping a listener reports `stopped`.
///
/// Every start and stop grabs or releases every keyboard, and the distribution demand comes
/// from a peer that may flip it many times a second: a withdrawn demand therefore lingers for
/// `kDistributionSettleTime`, and comes back without a new listener if it returns meanwhile.
/// A demand that arrives while no listener runs starts one at once. A stop never waits for the
/// listener's thread; its successor's thread does, before taking the keyboards.
class ClickerInputMonitorLifecycle {
public:
    static constexpr std::chrono::milliseconds kDistributionSettleTime{1500};

    /// Makes a listener that reports through `reports`.
    using MonitorFactory =
        std::function<std::shared_ptr<ClickerInputMonitoring>(ClickerInputMonitorReports reports)>;

    ClickerInputMonitorLifecycle(MonitorFactory makeMonitor,
                                 std::shared_ptr<MainThreadExecutor> mainThread,
                                 ClickerInputMonitorReports reports);
    /// Stops the listener and waits for its thread and those of the listeners before it.
    ~ClickerInputMonitorLifecycle();
    ClickerInputMonitorLifecycle(const ClickerInputMonitorLifecycle&) = delete;
    ClickerInputMonitorLifecycle& operator=(const ClickerInputMonitorLifecycle&) = delete;

    /// Brings the listener in line with the flags: creates and starts one when it is needed and
    /// missing; stops and drops it when it is not needed.
    void reconcile();

    /// Kept for each new listener and written into the current one.
    void updateConfiguration(const ClickerInputConfiguration& configuration);
    /// Written into the current listener at once; never starts or stops one.
    void setRecordingRequired(bool recordingRequired);

    /// These take effect at the next `reconcile`. A withdrawn distribution demand lingers while a
    /// listener runs (see above); `withdrawDistribution` ends it without the settle time, for a
    /// backend that is going away.
    void setDistributionRequired(bool required);
    void withdrawDistribution();
    void setTestRequired(bool required) { testRequired_ = required; }
    void setPermissionGranted(bool granted) { permissionGranted_ = granted; }

    bool distributionRequired() const { return distributionRequired_; }
    bool testRequired() const { return testRequired_; }
    bool recordingRequired() const { return recordingRequired_; }
    bool permissionGranted() const { return permissionGranted_; }
    const std::shared_ptr<ClickerInputMonitoring>& monitor() const { return monitor_; }

private:
    // Shared with the reports in flight, which check their listener's generation against it.
    struct Reporting {
        uint64_t generation = 0;
        ClickerInputMonitorReports reports;
    };

    ClickerInputMonitorReports reportsFor(uint64_t generation) const;
    void dropMonitor();
    void endLingeringDemand();

    const MonitorFactory makeMonitor_;
    const std::shared_ptr<MainThreadExecutor> mainThread_;
    const std::shared_ptr<Reporting> reporting_;
    std::shared_ptr<ClickerInputMonitoring> monitor_;
    // Stopped and perhaps still ending; the next listener waits for it, else the destructor.
    std::shared_ptr<ClickerInputMonitoring> ending_;
    bool distributionRequired_ = false;
    // Present while a withdrawn distribution demand still counts.
    std::optional<CancellableWork> lingeringDemand_;
    bool testRequired_ = false;
    bool recordingRequired_ = false;
    bool permissionGranted_ = false;
    ClickerInputConfiguration configuration_ = ClickerInputConfiguration::defaults();
};

}  // namespace kelvra
