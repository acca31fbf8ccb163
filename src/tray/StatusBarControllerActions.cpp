// SPDX-License-Identifier: MIT
// Menu and window actions, and the keyboard listener's demands.
#include "tray/StatusBarController.h"
#include "tray/StatusBarTexts.h"

namespace kelvra {

void StatusBarController::openRequested() {
    if (!closing_) {
        dependencies_.log->write(statusTexts::logCategory,
                                 "A second launch asked for the control page.");
        openKelvra();
        return;
    }
    dependencies_.log->write(statusTexts::logCategory,
                             "A second launch asked for the control page while Kelvra Hub quits; "
                             "nothing opens.");
    if (fatalAlertShown_) {
        dependencies_.view->raiseCriticalAlerts();
    }
}

void StatusBarController::openKelvra() {
    // The server is stopping or gone: its page is not to be opened, now or later.
    if (closing_) {
        return;
    }
    const auto& url = backendHost_->readyURL();
    if (!url) {
        openWhenReady_ = true;
        return;
    }
    openPage(*url);
}

void StatusBarController::openPage(const std::string& url) {
    dependencies_.view->openURL(url, weakly([url](StatusBarController& self, bool opened) {
                                    auto& log = *self.dependencies_.log;
                                    if (opened) {
                                        log.write(statusTexts::logCategory,
                                                  "Opened " + url + " in the default browser.");
                                        return;
                                    }
                                    log.write(statusTexts::logCategory,
                                              "Could not open " + url + " in the default browser.");
                                    self.dependencies_.view->showCriticalAlert(
                                        "Kelvra Hub could not open your default browser.",
                                        "Open " + url + " manually.", [] {});
                                }));
}

void StatusBarController::copyURL() {
    if (!backendHost_->readyURL()) {
        return;
    }
    const std::string url = *backendHost_->readyURL();
    if (dependencies_.view->writeClipboard(url)) {
        dependencies_.log->write(statusTexts::logCategory, "Copied " + url + " to the clipboard.");
        return;
    }
    dependencies_.log->write(statusTexts::logCategory,
                             "Could not copy " + url + " to the clipboard.");
    dependencies_.view->showCriticalAlert("Kelvra Hub could not copy the URL.",
                                          "Copy " + url + " manually.", [] {});
}

void StatusBarController::showSettings() {
    dependencies_.view->showSettingsWindow({
        .url = backendHost_->readyURL(),
        .configuration = dependencies_.settings->serverConfiguration(),
        .showWelcomeWindow = dependencies_.settings->startupOptions().showWelcomeWindow,
    });
}

void StatusBarController::showClickerDistributor() {
    clickerWindowWasPresented_ = true;
    dependencies_.view->showClickerWindow({
        .configuration = dependencies_.settings->clickerConfiguration(),
        .distributor = clickerDistributorState_,
        .backendAvailable = clickerInput_->backend() != nullptr,
        .listener = clickerListenerState_,
        .conflicts = clickerConflicts_,
    });
}

void StatusBarController::showAbout() {
    dependencies_.view->showAboutWindow();
}

void StatusBarController::checkForUpdates(UpdateCheckSender sender) {
    dependencies_.updateChecker->checkForUpdates(std::move(sender));
}

void StatusBarController::confirmQuit() {
    dependencies_.view->confirmQuit([view = std::weak_ptr(dependencies_.view)](bool quit) {
        auto strongView = view.lock();
        if (quit && strongView) {
            strongView->requestTermination();
        }
    });
}

void StatusBarController::applicationDidBecomeActive() {
    // The fatal alert activates the application too: nothing may start listening behind it.
    if (closing_) {
        return;
    }
    clickerInputLifecycle_->setPermissionGranted(clickerAccessGranted());
    clickerInputLifecycle_->reconcile();
    if (clickerWindowWasPresented_) {
        dependencies_.view->refreshClickerPermission();
    }
}

// ---- The settings window's callbacks ------------------------------------------------------

void StatusBarController::applyServerSettings(const HubServerConfiguration& configuration,
                                              ApplyCompletion completion) {
    serverSettingsApplier_->apply(configuration, false,
                                  [weakSelf = weak_from_this(), completion = std::move(completion)](
                                      ServerSettingsApplyResult result) {
                                      if (auto self = weakSelf.lock()) {
                                          self->endIfRestoreFailed(result);
                                      }
                                      completion(std::move(result));
                                  });
}

StartupOptions StatusBarController::startupOptions() {
    return dependencies_.settings->startupOptions();
}

std::expected<void, Error> StatusBarController::setShowWelcomeWindow(bool show) {
    return dependencies_.settings->setShowWelcomeWindow(show);
}

std::expected<LaunchAtLoginState, Error> StatusBarController::setLaunchAtLogin(bool enabled) {
    return dependencies_.settings->setLaunchAtLogin(enabled);
}

// ---- The Clicker Distributor window's callbacks -------------------------------------------

void StatusBarController::setClickerDistributorEnabled(
    bool enabled, BackendSupervising::UpdateCompletion completion) {
    if (auto supervisor = clickerInput_->backend()) {
        supervisor->setClickerDistributorEnabled(enabled, std::move(completion));
        return;
    }
    completion(std::unexpected(BackendSupervisorError::Kind::backendUnavailable));
}

StoredClickerConfiguration StatusBarController::commitClickerConfiguration(
    const ClickerInputConfiguration& configuration) {
    auto stored = dependencies_.settings->storeClickerConfiguration(configuration);
    if (stored.notSavedReason) {
        dependencies_.log->write(
            statusTexts::logCategory,
            "The clicker keys are in use but could not be saved: " + *stored.notSavedReason);
    }
    clickerInputLifecycle_->updateConfiguration(stored.configuration);
    return stored;
}

void StatusBarController::clickerTestDemandChanged(bool required) {
    clickerInput_->setInputTestRequired(required);
    clickerInputLifecycle_->setTestRequired(required && !closing_);
    clickerInputLifecycle_->reconcile();
}

void StatusBarController::clickerRecordingChanged(bool recording) {
    clickerInputLifecycle_->setRecordingRequired(recording);
}

void StatusBarController::clickerPermissionChanged(bool granted) {
    clickerInputLifecycle_->setPermissionGranted(granted && !closing_);
    clickerInputLifecycle_->reconcile();
}

// ---- The keyboard listener ----------------------------------------------------------------

void StatusBarController::clickerListenerStateChanged(ClickerInputListenerState state) {
    clickerListenerState_ = state;
    const bool holdsNothing =
        state == ClickerInputListenerState::stopped || state == ClickerInputListenerState::failed;
    const bool conflictsCleared = holdsNothing && !clickerConflicts_.empty();
    if (holdsNothing) {
        clickerConflicts_.clear();
    }
    if (clickerWindowWasPresented_) {
        dependencies_.view->setClickerListenerState(state);
        if (conflictsCleared) {
            dependencies_.view->setClickerConflicts({});
        }
    }
}

void StatusBarController::clearClickerDemands() {
    auto& lifecycle = *clickerInputLifecycle_;
    lifecycle.withdrawDistribution();
    lifecycle.setTestRequired(false);
    lifecycle.setRecordingRequired(false);
    lifecycle.setPermissionGranted(false);
    lifecycle.reconcile();
}

}  // namespace kelvra
