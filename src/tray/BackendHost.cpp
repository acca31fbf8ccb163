// SPDX-License-Identifier: MIT
#include "tray/BackendHost.h"

#include <utility>

namespace kelvra {

std::shared_ptr<BackendHost> BackendHost::create(BackendSupervisorFactory makeSupervisor,
                                                 Events events) {
    return std::shared_ptr<BackendHost>(
        new BackendHost(std::move(makeSupervisor), std::move(events)));
}

void BackendHost::launch(const BackendServerBinding& binding,
                         std::function<void(Launched)> completion) {
    auto supervisor = makeSupervisor_(binding);
    supervisor->setCallbacks(reportsFor(supervisor));
    backend_ = supervisor;
    events_.currentChanged(supervisor);
    supervisor->start([weakSelf = weak_from_this(), weakSupervisor = std::weak_ptr(supervisor),
                       completion = std::move(completion)](Launched started) mutable {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        if (!started) {
            self->launchFailed(weakSupervisor.lock(), std::move(started.error()),
                               std::move(completion));
            return;
        }
        if (!self->closed_) {
            self->readyURL_ = *started;
            self->events_.ready(*started);
        }
        completion(std::move(started));
    });
}

void BackendHost::launchFailed(const std::shared_ptr<BackendSupervising>& failed,
                               BackendStartError error, std::function<void(Launched)> completion) {
    events_.currentChanged(nullptr);
    // A child that missed its deadline or broke the protocol may still run and hold the port:
    // it is gone before anything launches again.
    stopSupervisor(failed, [weakSelf = weak_from_this(), failed, error = std::move(error),
                            completion = std::move(completion)]() mutable {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        if (self->backend_ == failed) {
            self->backend_ = nullptr;
        }
        completion(std::unexpected(std::move(error)));
    });
}

void BackendHost::stop(std::function<void()> stopped) {
    // The old supervisor stops being current before its stop begins, so nothing it still
    // reports gets out.
    auto old = std::exchange(backend_, nullptr);
    readyURL_.reset();
    events_.currentChanged(nullptr);
    events_.stopping();
    stopSupervisor(std::move(old), std::move(stopped));
}

void BackendHost::stopSupervisor(std::shared_ptr<BackendSupervising> supervisor,
                                 std::function<void()> completion) {
    if (!supervisor) {
        completion();
        return;
    }
    supervisor->detachCallbacks();
    // Kept alive until its stop has completed.
    supervisor->stop([supervisor, completion = std::move(completion)] { completion(); });
}

BackendSupervisorCallbacks BackendHost::reportsFor(
    const std::shared_ptr<BackendSupervising>& supervisor) {
    const auto ifCurrent = [weakSelf = weak_from_this(),
                            weakSupervisor = std::weak_ptr(supervisor)](const auto& report) {
        return [weakSelf, weakSupervisor, report](auto&&... arguments) {
            auto self = weakSelf.lock();
            auto strong = weakSupervisor.lock();
            if (report && self && !self->closed_ && strong && strong == self->backend_) {
                report(arguments...);
            }
        };
    };
    const BackendSupervisorCallbacks& reports = events_.reports;
    return {
        .onUnexpectedExit = ifCurrent(reports.onUnexpectedExit),
        .onFatalProtocol = ifCurrent(reports.onFatalProtocol),
        .onClickerListenerChange = ifCurrent(reports.onClickerListenerChange),
        .onClickerDistributorStateChange = ifCurrent(reports.onClickerDistributorStateChange),
        .onClickerDistributorUpdateResult = ifCurrent(reports.onClickerDistributorUpdateResult),
    };
}

}  // namespace kelvra
