// SPDX-License-Identifier: MIT
#include "server_config/HubNetworkServiceMonitor.h"

#include "core/AppIdentity.h"

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
      debounceInterval_(debounceInterval),
      queue_(appIdentifier(".network-monitor")) {}

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
    // The source's thread ends inside `stop`, before this object can go away, so it may use
    // the monitor without owning it.
    const bool started =
        changeSource_->start([this] { queue_.async([this] { networkChanged(); }); });
    if (!started) {
        std::lock_guard lock(mutex_);
        running_ = false;
        ++run_;
    }
}

void HubNetworkServiceMonitor::stop() {
    {
        std::lock_guard lock(mutex_);
        if (!running_) {
            return;
        }
        running_ = false;
        ++run_;
        debounceWorkItem_.cancel();
        debounceWorkItem_ = {};
    }
    changeSource_->stop();
}

bool HubNetworkServiceMonitor::isRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void HubNetworkServiceMonitor::networkChanged() {
    std::lock_guard lock(mutex_);
    if (!running_) {
        return;
    }
    debounceWorkItem_.cancel();
    // Queued work dies with the queue, which goes before the other fields, so `this` is safe.
    debounceWorkItem_ =
        queue_.asyncAfter(debounceInterval_, [this, run = run_] { debounceElapsed(run); });
}

void HubNetworkServiceMonitor::debounceElapsed(uint64_t run) {
    {
        std::lock_guard lock(mutex_);
        if (run != run_) {
            return;
        }
        debounceWorkItem_ = {};
    }
    mainThread_->post([weakSelf = weak_from_this(), run] {
        if (const auto self = weakSelf.lock()) {
            self->notify(run);
        }
    });
}

void HubNetworkServiceMonitor::notify(uint64_t run) {
    std::function<void()> onChange;
    {
        std::lock_guard lock(mutex_);
        if (run != run_) {
            return;
        }
        onChange = onChange_;
    }
    if (onChange) {
        onChange();
    }
}

}  // namespace kelvra
