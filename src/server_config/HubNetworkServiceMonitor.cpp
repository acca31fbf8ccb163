// SPDX-License-Identifier: MIT
#include "server_config/HubNetworkServiceMonitor.h"

#include <utility>

namespace kelvra {

std::shared_ptr<HubNetworkServiceMonitor> HubNetworkServiceMonitor::create(
    std::shared_ptr<MainThreadExecutor> mainThread,
    std::shared_ptr<NetworkChangeSource> changeSource, std::chrono::milliseconds debounceInterval) {
    return std::shared_ptr<HubNetworkServiceMonitor>(new HubNetworkServiceMonitor(
        std::move(mainThread), std::move(changeSource), debounceInterval));
}

HubNetworkServiceMonitor::HubNetworkServiceMonitor(
    std::shared_ptr<MainThreadExecutor> mainThread,
    std::shared_ptr<NetworkChangeSource> changeSource, std::chrono::milliseconds debounceInterval)
    : mainThread_(std::move(mainThread)),
      changeSource_(std::move(changeSource)),
      debounceInterval_(debounceInterval) {}

HubNetworkServiceMonitor::~HubNetworkServiceMonitor() {
    stop();
}

void HubNetworkServiceMonitor::setOnChange(std::function<void()> onChange) {
    std::lock_guard lock(mutex_);
    onChange_ = std::move(onChange);
}

void HubNetworkServiceMonitor::start() {
    {
        std::lock_guard lock(mutex_);
        if (running_) {
            return;
        }
        // Running before the source starts, so that its first change is not taken as late.
        running_ = true;
        ++run_;
    }
    // The source calls nothing once `stop` has returned, before this object can go away, so
    // it may use the monitor without owning it.
    const bool started = changeSource_->start([this] { networkChanged(); });
    if (!started) {
        std::lock_guard lock(mutex_);
        running_ = false;
        ++run_;
    }
}

void HubNetworkServiceMonitor::stop() {
    CancellableWork pending;
    {
        std::lock_guard lock(mutex_);
        if (!running_) {
            return;
        }
        running_ = false;
        ++run_;
        pending = std::exchange(debounceWorkItem_, {});
    }
    pending.cancel();
    changeSource_->stop();
}

bool HubNetworkServiceMonitor::isRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void HubNetworkServiceMonitor::networkChanged() {
    uint64_t run = 0;
    CancellableWork superseded;
    {
        std::lock_guard lock(mutex_);
        if (!running_) {
            return;
        }
        run = run_;
        superseded = std::exchange(debounceWorkItem_, {});
    }
    superseded.cancel();
    auto pending = mainThread_->postDelayed(debounceInterval_, [weakSelf = weak_from_this(), run] {
        if (const auto self = weakSelf.lock()) {
            self->notify(run);
        }
    });
    {
        std::lock_guard lock(mutex_);
        if (run == run_) {
            std::swap(pending, debounceWorkItem_);
        }
    }
    // Stale when the monitor stopped meanwhile, or a change that came at the same time won.
    pending.cancel();
}

void HubNetworkServiceMonitor::notify(uint64_t run) {
    std::function<void()> onChange;
    {
        std::lock_guard lock(mutex_);
        if (run != run_) {
            return;
        }
        debounceWorkItem_ = {};
        onChange = onChange_;
    }
    if (onChange) {
        onChange();
    }
}

}  // namespace kelvra
