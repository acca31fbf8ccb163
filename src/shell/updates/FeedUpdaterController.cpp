// SPDX-License-Identifier: MIT
#include "shell/updates/FeedUpdaterController.h"

#include "core/AppIdentity.h"

namespace kelvra {

std::shared_ptr<FeedUpdaterController> FeedUpdaterController::create(
    UpdateFeed::CheckConfiguration configuration, std::shared_ptr<MainThreadExecutor> mainThread,
    std::shared_ptr<UpdateUserDriver> userDriver, std::weak_ptr<SparkleUpdaterDelegate> delegate) {
    return std::shared_ptr<FeedUpdaterController>(
        new FeedUpdaterController(std::move(configuration), std::move(mainThread),
                                  std::move(userDriver), std::move(delegate)));
}

AppUpdater::ControllerFactory FeedUpdaterController::factory(
    UpdateFeed::CheckConfiguration configuration, std::shared_ptr<MainThreadExecutor> mainThread,
    std::shared_ptr<UpdateUserDriver> userDriver) {
    return [configuration = std::move(configuration), mainThread = std::move(mainThread),
            userDriver = std::move(userDriver)](std::weak_ptr<SparkleUpdaterDelegate> delegate) {
        return std::static_pointer_cast<SparkleUpdaterControlling>(
            create(configuration, mainThread, userDriver, std::move(delegate)));
    };
}

FeedUpdaterController::FeedUpdaterController(UpdateFeed::CheckConfiguration configuration,
                                             std::shared_ptr<MainThreadExecutor> mainThread,
                                             std::shared_ptr<UpdateUserDriver> userDriver,
                                             std::weak_ptr<SparkleUpdaterDelegate> delegate)
    : configuration_(std::move(configuration)),
      mainThread_(std::move(mainThread)),
      userDriver_(std::move(userDriver)),
      delegate_(std::move(delegate)) {}

FeedUpdaterController::~FeedUpdaterController() {
    // Ends a download in flight at once; the queue's destructor then waits only briefly.
    cancelled_->store(true);
}

bool FeedUpdaterController::automaticallyChecksForUpdates() const {
    return automaticallyChecks_.load();
}

void FeedUpdaterController::setAutomaticallyChecksForUpdates(bool enabled) {
    automaticallyChecks_.store(enabled);
}

std::expected<void, Error> FeedUpdaterController::startUpdater() {
    if (!UpdateFeed::isWebAddress(configuration_.feedURL)) {
        return std::unexpected(Error(UpdaterError::invalidFeedAddress(configuration_.feedURL)));
    }
    return {};
}

void FeedUpdaterController::checkForUpdateInformation() {
    startCheck(UpdateCheck::updateInformation);
}

void FeedUpdaterController::checkForUpdates(UpdateCheckSender) {
    startCheck(UpdateCheck::updates);
}

void FeedUpdaterController::startCheck(UpdateCheck check) {
    std::shared_ptr<SerialQueue> queue;
    {
        std::lock_guard lock(mutex_);
        if (!queue_) {
            queue_ = std::make_shared<SerialQueue>(appIdentifier(".updater"));
        }
        // Counted first, so the queue stays until this check has ended.
        ++checksInFlight_;
        queue = queue_;
    }
    queue->async([weak = weak_from_this(), configuration = configuration_, mainThread = mainThread_,
                  cancelled = cancelled_, check] {
        auto outcome = UpdateFeed::check(configuration, cancelled.get());
        if (cancelled->load()) {
            return;
        }
        mainThread->post([weak, check, outcome = std::move(outcome)] {
            if (const auto self = weak.lock()) {
                self->finishCheck(check, outcome);
            }
        });
    });
}

void FeedUpdaterController::finishCheck(UpdateCheck check,
                                        const std::expected<UpdateItem, UpdaterError>& outcome) {
    std::shared_ptr<SerialQueue> idle;
    {
        std::lock_guard lock(mutex_);
        if (--checksInFlight_ == 0) {
            idle = std::move(queue_);
        }
    }
    // Its thread has only the end of the item that posted this left to run.
    idle.reset();
    report(check, outcome);
}

void FeedUpdaterController::report(UpdateCheck check,
                                   const std::expected<UpdateItem, UpdaterError>& outcome) const {
    const auto delegate = delegate_.lock();
    if (outcome && delegate) {
        delegate->didFindValidUpdate(*outcome);
    }
    if (check == UpdateCheck::updates && userDriver_) {
        if (outcome) {
            userDriver_->showUpdateFound(*outcome);
        } else if (outcome.error().code() == UpdaterError::kNoUpdateFoundCode) {
            userDriver_->showUpToDate(outcome.error());
        } else {
            userDriver_->showUpdateError(outcome.error());
        }
    }
    if (delegate) {
        delegate->didFinishUpdateCycle(check,
                                       outcome ? std::nullopt : std::optional(outcome.error()));
    }
}

}  // namespace kelvra
