// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/MainThreadExecutor.h"
#include "shell/updates/UpdateChecking.h"

namespace kelvra {

/// Looks for an update once per launch, quietly, and shows something only when an update
/// exists or the user asked; a manual request made during that probe is answered once, after
/// it. Lives on the main thread: every call and callback arrives there.
class AppUpdater final : public UpdateChecking,
                         public SparkleUpdaterDelegate,
                         public std::enable_shared_from_this<AppUpdater> {
public:
    using Log = std::function<void(const std::string&)>;
    /// Makes the standard controller, not started, with the given delegate.
    using ControllerFactory = std::function<std::shared_ptr<SparkleUpdaterControlling>(
        std::weak_ptr<SparkleUpdaterDelegate> delegate)>;

    /// Uses `controller` as it is when given; otherwise asks `makeStandardController` for one
    /// with the new updater as its delegate (no controller at all when that is empty too, and
    /// then checks do nothing).
    static std::shared_ptr<AppUpdater> create(std::shared_ptr<SparkleUpdaterControlling> controller,
                                              Log log,
                                              std::shared_ptr<MainThreadExecutor> mainThread,
                                              const ControllerFactory& makeStandardController = {});

    AppUpdater(const AppUpdater&) = delete;
    AppUpdater& operator=(const AppUpdater&) = delete;

    /// The launch flow's once-only probe; later calls do nothing.
    void checkForUpdatesOnStartup();

    /// The menu's entry: held until the probe ends when it is in flight, else passed on.
    void checkForUpdates(UpdateCheckSender sender) override;

    void didFindValidUpdate(const UpdateItem& item) override;
    void didFinishUpdateCycle(UpdateCheck check, const std::optional<UpdaterError>& error) override;

    const std::shared_ptr<SparkleUpdaterControlling>& controller() const { return controller_; }

private:
    AppUpdater(Log log, std::shared_ptr<MainThreadExecutor> mainThread)
        : log_(std::move(log)), mainThread_(std::move(mainThread)) {}

    std::shared_ptr<SparkleUpdaterControlling> controller_;
    const Log log_;
    const std::shared_ptr<MainThreadExecutor> mainThread_;
    bool startupCheckStarted_ = false;
    bool probingStartup_ = false;
    bool foundStartupUpdate_ = false;
    UpdateCheckSender pendingManualSender_;
    bool manualCheckPending_ = false;
};

}  // namespace kelvra
