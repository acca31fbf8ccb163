// SPDX-License-Identifier: MIT
// Menu and window actions, and the keyboard listener's demands.
#include "core/Weakly.h"
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
    dependencies_.view->openURL(
        url, weakly(weak_from_this(), [url](StatusBarController& self, bool opened) {
            auto& log = *self.dependencies_.log;
            if (opened) {
                log.write(statusTexts::logCategory, "Opened " + url + " in the default browser.");
                return;
            }
            log.write(statusTexts::logCategory,
                      "Could not open " + url + " in the default browser.");
            self.dependencies_.view->showCriticalAlert(
                "Kelvra Hub could not open your default browser.", "Open " + url + " manually.",
                [] {});
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

void StatusBarController::checkForUpdates(UpdateCheckSender sender) {
    dependencies_.updateChecker->checkForUpdates(std::move(sender));
}

void StatusBarController::confirmQuit() {
    dependencies_.view->confirmQuit(
        [requestTermination = dependencies_.requestTermination](bool quit) {
            if (quit) {
                requestTermination();
            }
        });
}

void StatusBarController::applicationDidBecomeActive() {
    // The fatal alert activates the application too: nothing may start listening behind it.
    if (closing_) {
        return;
    }
    // The model reads keyboard access again and reports it to the listener's demands.
    clickerModel_->refreshPermissionState();
}

// ---- The settings window's apply -----------------------------------------------------------

void StatusBarController::applyServerSettings(const HubServerConfiguration& configuration,
                                              ApplyCompletion completion) {
    if (!closing_) {
        ++appliesRunning_;
        setServerStatus(ServerStatus::applying());
    }
    serverSettingsApplier_->apply(
        configuration, false,
        [weakSelf = weak_from_this(), counted = !closing_,
         completion = std::move(completion)](ServerSettingsApplyResult result) {
            if (auto self = weakSelf.lock(); self && counted) {
                self->applyAnswered(result);
            }
            completion(std::move(result));
        });
}

void StatusBarController::applyAnswered(const ServerSettingsApplyResult& result) {
    --appliesRunning_;
    endIfRestoreFailed(result);
    if (closing_ || appliesRunning_ > 0) {
        return;
    }
    const auto& url = backendHost_->readyURL();
    setServerStatus(url ? ServerStatus::running(*url) : ServerStatus::restarting());
}

// ---- The Clicker Distributor window's model -----------------------------------------------

std::unique_ptr<ClickerDistributorModel> StatusBarController::makeClickerModel() {
    return std::make_unique<ClickerDistributorModel>(
        dependencies_.clickerPermissionProvider, dependencies_.settings->clickerConfiguration(),
        *dependencies_.mainThread,
        ClickerDistributorModel::Effects{
            .switchDistribution =
                [this](bool enabled, ClickerDistributorModel::SwitchCompletion completion) {
                    setClickerDistributorEnabled(enabled, std::move(completion));
                },
            .commitConfiguration =
                [this](const ClickerInputConfiguration& edited) {
                    auto stored = commitClickerConfiguration(edited);
                    return ClickerDistributorModel::Committed{std::move(stored.configuration),
                                                              std::move(stored.notSavedReason)};
                },
            .testDemandChanged = [this](bool required) { clickerTestDemandChanged(required); },
            .recordingChanged =
                [this](bool recording) { clickerInputLifecycle_->setRecordingRequired(recording); },
            .permissionChanged =
                [this](AccessibilityAuthorizationStatus status) {
                    clickerPermissionChanged(status == AccessibilityAuthorizationStatus::granted);
                },
            .bringToFront =
                [this] {
                    if (windows_.raiseClickerWindow) {
                        windows_.raiseClickerWindow();
                    }
                },
        });
}

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

void StatusBarController::clickerPermissionChanged(bool granted) {
    clickerInputLifecycle_->setPermissionGranted(granted && !closing_);
    clickerInputLifecycle_->reconcile();
}

// ---- The keyboard listener ----------------------------------------------------------------

void StatusBarController::clickerListenerStateChanged(ClickerInputListenerState state) {
    clickerModel_->setListenerState(state);
    // A listener that holds nothing leaves no keystroke held by another program.
    if (state == ClickerInputListenerState::stopped || state == ClickerInputListenerState::failed) {
        clickerModel_->setConflicts({});
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
