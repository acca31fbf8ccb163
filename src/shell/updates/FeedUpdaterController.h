// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "core/MainThreadExecutor.h"
#include "core/SerialQueue.h"
#include "shell/updates/AppUpdater.h"
#include "shell/updates/UpdateChecking.h"
#include "shell/updates/UpdateFeed.h"

namespace kelvra {

/// The standard update controller: checks the JSON update feed (`UpdateFeed`) on a queue of its
/// own and reports to its delegate on the main thread. Checks run one after another, each with
/// its own callbacks; the queue, and its thread, exist only while checks are in flight. It
/// never checks on its own; `automaticallyChecksForUpdates` is only kept.
///
/// Dropping the controller cancels a check in flight; nothing is reported for it then.
class FeedUpdaterController final : public SparkleUpdaterControlling,
                                    public std::enable_shared_from_this<FeedUpdaterController> {
public:
    /// `userDriver` shows the interactive checks' outcomes; both it and `delegate` may be empty.
    static std::shared_ptr<FeedUpdaterController> create(
        UpdateFeed::CheckConfiguration configuration,
        std::shared_ptr<MainThreadExecutor> mainThread,
        std::shared_ptr<UpdateUserDriver> userDriver,
        std::weak_ptr<SparkleUpdaterDelegate> delegate);

    /// The factory `AppUpdater::create` calls for its standard controller.
    static AppUpdater::ControllerFactory factory(UpdateFeed::CheckConfiguration configuration,
                                                 std::shared_ptr<MainThreadExecutor> mainThread,
                                                 std::shared_ptr<UpdateUserDriver> userDriver);

    ~FeedUpdaterController() override;
    FeedUpdaterController(const FeedUpdaterController&) = delete;
    FeedUpdaterController& operator=(const FeedUpdaterController&) = delete;

    bool automaticallyChecksForUpdates() const override;
    void setAutomaticallyChecksForUpdates(bool enabled) override;

    /// Fails with `invalidFeedAddress` when the feed address is not http or https.
    std::expected<void, Error> startUpdater() override;

    void checkForUpdateInformation() override;
    void checkForUpdates(UpdateCheckSender sender) override;

private:
    FeedUpdaterController(UpdateFeed::CheckConfiguration configuration,
                          std::shared_ptr<MainThreadExecutor> mainThread,
                          std::shared_ptr<UpdateUserDriver> userDriver,
                          std::weak_ptr<SparkleUpdaterDelegate> delegate);

    void startCheck(UpdateCheck check);
    /// On the main thread: one check has ended; the last one lets the queue go.
    void finishCheck(UpdateCheck check, const std::expected<UpdateItem, UpdaterError>& outcome);
    void report(UpdateCheck check, const std::expected<UpdateItem, UpdaterError>& outcome) const;

    const UpdateFeed::CheckConfiguration configuration_;
    const std::shared_ptr<MainThreadExecutor> mainThread_;
    const std::shared_ptr<UpdateUserDriver> userDriver_;
    const std::weak_ptr<SparkleUpdaterDelegate> delegate_;
    const std::shared_ptr<std::atomic<bool>> cancelled_ =
        std::make_shared<std::atomic<bool>>(false);
    std::atomic<bool> automaticallyChecks_ = false;

    std::mutex mutex_;
    int checksInFlight_ = 0;
    std::shared_ptr<SerialQueue> queue_;
};

}  // namespace kelvra
