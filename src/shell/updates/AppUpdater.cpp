// SPDX-License-Identifier: MIT
#include "shell/updates/AppUpdater.h"

namespace kelvra {

std::shared_ptr<AppUpdater> AppUpdater::create(
    std::shared_ptr<SparkleUpdaterControlling> controller, Log log,
    std::shared_ptr<MainThreadExecutor> mainThread,
    const ControllerFactory& makeStandardController) {
    std::shared_ptr<AppUpdater> updater(new AppUpdater(std::move(log), std::move(mainThread)));
    if (controller) {
        updater->controller_ = std::move(controller);
    } else if (makeStandardController) {
        updater->controller_ =
            makeStandardController(std::static_pointer_cast<SparkleUpdaterDelegate>(updater));
    }
    return updater;
}

void AppUpdater::checkForUpdatesOnStartup() {
    if (startupCheckStarted_) {
        return;
    }
    startupCheckStarted_ = true;
    if (!controller_) {
        return;
    }
    controller_->setAutomaticallyChecksForUpdates(false);
    if (auto started = controller_->startUpdater(); !started) {
        log_("Could not start the updater: " + started.error().description());
        return;
    }
    probingStartup_ = true;
    log_("Checking for updates at startup; periodic checks are disabled.");
    controller_->checkForUpdateInformation();
}

void AppUpdater::checkForUpdates(UpdateCheckSender sender) {
    if (probingStartup_) {
        manualCheckPending_ = true;
        pendingManualSender_ = std::move(sender);
        return;
    }
    if (controller_) {
        controller_->checkForUpdates(std::move(sender));
    }
}

void AppUpdater::didFindValidUpdate(const UpdateItem&) {
    if (probingStartup_) {
        foundStartupUpdate_ = true;
    }
}

void AppUpdater::didFinishUpdateCycle(UpdateCheck check, const std::optional<UpdaterError>& error) {
    if (check != UpdateCheck::updateInformation || !probingStartup_) {
        return;
    }
    probingStartup_ = false;
    const bool present = manualCheckPending_ || (!error && foundStartupUpdate_);
    UpdateCheckSender sender = std::move(pendingManualSender_);
    foundStartupUpdate_ = false;
    manualCheckPending_ = false;
    pendingManualSender_.reset();
    if (error && error->code() != UpdaterError::kNoUpdateFoundCode) {
        log_("Startup update check failed: " + error->description());
    }
    if (!present) {
        return;
    }
    // Queued rather than called, so the interactive check never starts inside the callback.
    mainThread_->post([weak = weak_from_this(), sender = std::move(sender)] {
        const auto self = weak.lock();
        if (self && self->controller_) {
            self->controller_->checkForUpdates(sender);
        }
    });
}

}  // namespace kelvra
