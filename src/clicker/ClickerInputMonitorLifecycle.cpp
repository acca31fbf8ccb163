// SPDX-License-Identifier: MIT
#include "clicker/ClickerInputMonitorLifecycle.h"

#include <utility>

namespace kelvra {

ClickerInputMonitorLifecycle::ClickerInputMonitorLifecycle(
    MonitorFactory makeMonitor, std::shared_ptr<MainThreadExecutor> mainThread,
    ClickerInputMonitorReports reports)
    : makeMonitor_(std::move(makeMonitor)),
      mainThread_(std::move(mainThread)),
      reporting_(std::make_shared<Reporting>(Reporting{0, std::move(reports)})) {}

ClickerInputMonitorLifecycle::~ClickerInputMonitorLifecycle() {
    endLingeringDemand();
    if (monitor_) {
        monitor_->stop();
        ending_ = std::exchange(monitor_, nullptr);
    }
    if (ending_) {
        ending_->join();
    }
}

void ClickerInputMonitorLifecycle::setDistributionRequired(bool required) {
    if (required) {
        endLingeringDemand();
    } else if (distributionRequired_ && monitor_) {
        lingeringDemand_ = mainThread_->postDelayed(kDistributionSettleTime, [this] {
            lingeringDemand_.reset();
            reconcile();
        });
    }
    distributionRequired_ = required;
}

void ClickerInputMonitorLifecycle::withdrawDistribution() {
    endLingeringDemand();
    distributionRequired_ = false;
}

void ClickerInputMonitorLifecycle::endLingeringDemand() {
    if (lingeringDemand_) {
        lingeringDemand_->cancel();
        lingeringDemand_.reset();
    }
}

void ClickerInputMonitorLifecycle::reconcile() {
    if (permissionGranted_ && (distributionRequired_ || lingeringDemand_ || testRequired_)) {
        if (monitor_) {
            return;
        }
        monitor_ = makeMonitor_(reportsFor(++reporting_->generation));
        monitor_->setConfiguration(configuration_);
        monitor_->setRecordingRequired(recordingRequired_);
        monitor_->start(std::exchange(ending_, nullptr));
    } else if (monitor_) {
        dropMonitor();
    }
}

void ClickerInputMonitorLifecycle::dropMonitor() {
    endLingeringDemand();
    monitor_->stop();
    // Its thread may still be letting the keyboards go; the next listener's thread waits for it.
    ending_ = std::exchange(monitor_, nullptr);
    const uint64_t generation = ++reporting_->generation;
    mainThread_->post([reporting = std::weak_ptr(reporting_), generation] {
        const auto shared = reporting.lock();
        if (shared && shared->generation == generation && shared->reports.onState) {
            shared->reports.onState(ClickerInputListenerState::stopped);
        }
    });
}

ClickerInputMonitorReports ClickerInputMonitorLifecycle::reportsFor(uint64_t generation) const {
    const std::weak_ptr<Reporting> reporting = reporting_;
    return {
        [reporting, generation](ClickerInputListenerState state) {
            const auto shared = reporting.lock();
            if (shared && shared->generation == generation && shared->reports.onState) {
                shared->reports.onState(state);
            }
        },
        [reporting, generation](std::vector<ClickerKeystroke> keystrokes) {
            const auto shared = reporting.lock();
            if (shared && shared->generation == generation && shared->reports.onConflicts) {
                shared->reports.onConflicts(std::move(keystrokes));
            }
        },
    };
}

void ClickerInputMonitorLifecycle::updateConfiguration(
    const ClickerInputConfiguration& configuration) {
    configuration_ = configuration;
    if (monitor_) {
        monitor_->setConfiguration(configuration);
    }
}

void ClickerInputMonitorLifecycle::setRecordingRequired(bool recordingRequired) {
    recordingRequired_ = recordingRequired;
    if (monitor_) {
        monitor_->setRecordingRequired(recordingRequired);
    }
}

}  // namespace kelvra
