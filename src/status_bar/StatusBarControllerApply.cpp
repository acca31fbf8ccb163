// SPDX-License-Identifier: MIT
// Applying server settings with rollback, and following network changes.
#include "status_bar/StatusBarController.h"
#include "status_bar/StatusBarTexts.h"

namespace kelvra {

/// One apply as it moves through its steps.
struct StatusBarController::Apply {
    HubServerConfiguration configuration;
    bool forceRestart = false;
    ApplyCompletion completion;
    std::function<void()> done;
    ResolvedHubServerConfiguration previous;
    ResolvedHubServerConfiguration next;

    /// Answers the caller, then lets the next operation run (an abandoned apply never ran).
    void finish(ServerSettingsApplyResult result) {
        auto finished = std::exchange(done, nullptr);
        completion(std::move(result));
        if (finished) {
            finished();
        }
    }
};

void StatusBarController::applyServerConfiguration(const HubServerConfiguration& configuration,
                                                   bool forceRestart, ApplyCompletion completion) {
    auto apply = std::make_shared<Apply>();
    apply->configuration = configuration;
    apply->forceRestart = forceRestart;
    apply->completion = std::move(completion);
    operations_->enqueue({
        .run = weakly([apply](StatusBarController& self, std::function<void()> done) {
            apply->done = std::move(done);
            self.applyOperation(apply);
        }),
        .abandon =
            [apply] { apply->finish(std::unexpected(ServerConfigurationError::appIsClosing())); },
    });
}

void StatusBarController::applyOperation(std::shared_ptr<Apply> apply) {
    const auto stored = dependencies_.settings->serverConfiguration();
    apply->previous = resolvedServerConfiguration_.value_or(resolveNow(stored));
    apply->next = resolveNow(apply->configuration);
    if (!apply->forceRestart && apply->configuration == stored && readyURL_) {
        apply->finish(ServerSettingsApplied{stored, *readyURL_, std::nullopt});
        return;
    }

    readyURL_.reset();
    dependencies_.view->setURLActionsEnabled(false);
    dependencies_.view->setStatusLine(statusTexts::restarting);
    dependencies_.view->showServerURL(std::nullopt);

    // The old supervisor stops being current before its stop begins, so nothing it still
    // reports reaches the controller.
    auto old = std::exchange(backend_, nullptr);
    clickerInput_->setBackend(nullptr);
    hasClickerDistributorState_ = false;
    clickerInputLifecycle_->setDistributionRequired(false);
    clickerInputLifecycle_->reconcile();
    if (clickerWindowWasPresented_) {
        dependencies_.view->clickerBackendRestarting();
    }
    stopBackend(std::move(old),
                weakly([apply](StatusBarController& self) { self.applyNewConfiguration(apply); }));
}

void StatusBarController::applyNewConfiguration(std::shared_ptr<Apply> apply) {
    if (closing_) {
        apply->finish(std::unexpected(ServerConfigurationError::appIsClosing()));
        return;
    }
    launchBackend(
        apply->next.binding, weakly([apply](StatusBarController& self, Launched launched) {
            if (!launched) {
                const std::string failure = Error(launched.error()).description();
                self.dependencies_.log->write(statusTexts::logCategory,
                                              "Could not apply server settings: " + failure);
                self.restorePrevious(apply, failure);
                return;
            }
            self.resolvedServerConfiguration_ = apply->next;
            // The new server runs either way; the user learns that it will not survive a restart.
            std::optional<std::string> notSavedReason;
            if (auto saved =
                    self.dependencies_.settings->storeServerConfiguration(apply->configuration);
                !saved) {
                notSavedReason = saved.error().description();
                self.dependencies_.log->write(
                    statusTexts::logCategory,
                    "The new server settings run but could not be saved: " +
                        saved.error().diagnosticDescription());
            }
            if (!self.closing_) {
                self.setReady(*launched);
            }
            apply->finish(
                ServerSettingsApplied{apply->configuration, *launched, std::move(notSavedReason)});
        }));
}

void StatusBarController::restorePrevious(std::shared_ptr<Apply> apply, std::string failure) {
    if (closing_) {
        apply->finish(std::unexpected(ServerConfigurationError::appIsClosing()));
        return;
    }
    launchBackend(
        apply->previous.binding,
        weakly([apply, failure](StatusBarController& self, Launched launched) {
            if (launched) {
                self.resolvedServerConfiguration_ = apply->previous;
                if (self.closing_) {
                    apply->finish(std::unexpected(ServerConfigurationError::appIsClosing()));
                    return;
                }
                self.setReady(*launched);
                apply->finish(std::unexpected(ServerConfigurationError::applyFailed(failure)));
                return;
            }
            const std::string restoreFailure = Error(launched.error()).description();
            if (self.closing_) {
                self.dependencies_.log->write(
                    statusTexts::logCategory,
                    "Could not restore the previous server: " + restoreFailure);
                apply->finish(std::unexpected(ServerConfigurationError::appIsClosing()));
                return;
            }
            self.showFatalError(
                "Kelvra Hub could not restore the previous server after the new settings failed: " +
                restoreFailure);
            apply->finish(std::unexpected(ServerConfigurationError::restoreFailed(restoreFailure)));
        }));
}

void StatusBarController::networkServicesDidChange() {
    if (closing_) {
        return;
    }
    dependencies_.view->reloadNetworkChoices();
    // While an operation runs, what the server ends up on is not known yet: the follow-up
    // compares once its turn comes.
    if (operations_->isIdle()) {
        const auto resolution = resolveNow(dependencies_.settings->serverConfiguration());
        if (resolvedServerConfiguration_ &&
            resolvedServerConfiguration_->binding == resolution.binding) {
            return;
        }
    }
    // One waiting follow-up is enough: it resolves the stored settings when it runs.
    if (std::exchange(networkChangeQueued_, true)) {
        return;
    }
    operations_->enqueue({
        .run = weakly([](StatusBarController& self, std::function<void()> done) {
            self.networkChangeQueued_ = false;
            self.followNetworkChange(std::move(done));
        }),
        .abandon = [] {},
    });
}

void StatusBarController::followNetworkChange(std::function<void()> done) {
    const auto stored = dependencies_.settings->serverConfiguration();
    if (readyURL_ && resolvedServerConfiguration_ &&
        resolvedServerConfiguration_->binding == resolveNow(stored).binding) {
        done();
        return;
    }
    auto apply = std::make_shared<Apply>();
    apply->configuration = stored;
    apply->forceRestart = true;
    apply->done = std::move(done);
    apply->completion = [log = std::weak_ptr(dependencies_.log)](ServerSettingsApplyResult result) {
        auto strongLog = log.lock();
        if (!result && strongLog) {
            strongLog->write(
                statusTexts::logCategory,
                "Could not follow a network-interface change: " + result.error().description());
        }
    };
    applyOperation(std::move(apply));
}

}  // namespace kelvra
