// SPDX-License-Identifier: MIT
#include "tray/ServerSettingsApplier.h"

#include "core/Weakly.h"
#include "tray/StatusBarTexts.h"

namespace kelvra {

/// One apply as it moves through its steps.
struct ServerSettingsApplier::Apply {
    HubServerConfiguration configuration;
    bool forceRestart = false;
    Completion completion;
    std::function<void()> done;
    BackendServerBinding previous;
    BackendServerBinding next;

    /// Answers the caller, then lets the next operation run (an abandoned apply never ran).
    void finish(ServerSettingsApplyResult result) {
        auto finished = std::exchange(done, nullptr);
        completion(std::move(result));
        if (finished) {
            finished();
        }
    }
};

std::shared_ptr<ServerSettingsApplier> ServerSettingsApplier::create(Dependencies dependencies) {
    return std::shared_ptr<ServerSettingsApplier>(
        new ServerSettingsApplier(std::move(dependencies)));
}

void ServerSettingsApplier::apply(const HubServerConfiguration& configuration, bool forceRestart,
                                  Completion completion) {
    auto apply = std::make_shared<Apply>();
    apply->configuration = configuration;
    apply->forceRestart = forceRestart;
    apply->completion = std::move(completion);
    dependencies_.operations->enqueue({
        .run = weakly(weak_from_this(),
                      [apply](ServerSettingsApplier& self, std::function<void()> done) {
                          apply->done = std::move(done);
                          self.applyOperation(apply);
                      }),
        .abandon =
            [apply] { apply->finish(std::unexpected(ServerConfigurationError::appIsClosing())); },
    });
}

void ServerSettingsApplier::applyOperation(std::shared_ptr<Apply> apply) {
    const auto stored = dependencies_.settings->serverConfiguration();
    apply->previous = runningBinding_.value_or(resolve(stored));
    apply->next = resolve(apply->configuration);
    const auto url = dependencies_.host->readyURL();
    if (!apply->forceRestart && apply->configuration == stored && url) {
        apply->finish(ServerSettingsApplied{stored, *url, std::nullopt});
        return;
    }
    dependencies_.host->stop(
        weakly(weak_from_this(), [apply](ServerSettingsApplier& self) { self.launchNew(apply); }));
}

void ServerSettingsApplier::launchNew(std::shared_ptr<Apply> apply) {
    if (dependencies_.host->isClosed()) {
        apply->finish(std::unexpected(ServerConfigurationError::appIsClosing()));
        return;
    }
    dependencies_.host->launch(
        apply->next, weakly(weak_from_this(), [apply](ServerSettingsApplier& self,
                                                      BackendHost::Launched launched) {
            if (!launched) {
                const std::string failure = Error(launched.error()).description();
                self.dependencies_.log->write(statusTexts::logCategory,
                                              "Could not apply server settings: " + failure);
                self.restorePrevious(apply, failure);
                return;
            }
            self.runningBinding_ = apply->next;
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
            apply->finish(
                ServerSettingsApplied{apply->configuration, *launched, std::move(notSavedReason)});
        }));
}

void ServerSettingsApplier::restorePrevious(std::shared_ptr<Apply> apply, std::string failure) {
    if (dependencies_.host->isClosed()) {
        apply->finish(std::unexpected(ServerConfigurationError::appIsClosing()));
        return;
    }
    dependencies_.host->launch(
        apply->previous, weakly(weak_from_this(), [apply, failure](ServerSettingsApplier& self,
                                                                   BackendHost::Launched launched) {
            const bool closed = self.dependencies_.host->isClosed();
            if (launched) {
                self.runningBinding_ = apply->previous;
                if (closed) {
                    apply->finish(std::unexpected(ServerConfigurationError::appIsClosing()));
                    return;
                }
                apply->finish(std::unexpected(ServerConfigurationError::applyFailed(failure)));
                return;
            }
            const std::string restoreFailure = Error(launched.error()).description();
            if (closed) {
                self.dependencies_.log->write(
                    statusTexts::logCategory,
                    "Could not restore the previous server: " + restoreFailure);
                apply->finish(std::unexpected(ServerConfigurationError::appIsClosing()));
                return;
            }
            apply->finish(std::unexpected(ServerConfigurationError::restoreFailed(restoreFailure)));
        }));
}

void ServerSettingsApplier::networkServicesDidChange(Completion completion) {
    // While an operation runs, what the server ends up on is not known yet: the follow-up
    // compares once its turn comes.
    if (dependencies_.operations->isIdle() && runningBinding_ == resolveStored()) {
        return;
    }
    // One waiting follow-up is enough: it resolves the stored settings when it runs.
    networkChangeCompletion_ = std::move(completion);
    if (std::exchange(networkChangeQueued_, true)) {
        return;
    }
    dependencies_.operations->enqueue({
        .run = weakly(weak_from_this(),
                      [](ServerSettingsApplier& self, std::function<void()> done) {
                          self.networkChangeQueued_ = false;
                          self.followNetworkChange(
                              std::move(done),
                              std::exchange(self.networkChangeCompletion_, nullptr));
                      }),
        .abandon = [] {},
    });
}

void ServerSettingsApplier::followNetworkChange(std::function<void()> done, Completion completion) {
    const auto stored = dependencies_.settings->serverConfiguration();
    if (dependencies_.host->readyURL() && runningBinding_ == resolve(stored)) {
        done();
        return;
    }
    auto apply = std::make_shared<Apply>();
    apply->configuration = stored;
    apply->forceRestart = true;
    apply->done = std::move(done);
    apply->completion = [log = std::weak_ptr(dependencies_.log),
                         completion = std::move(completion)](ServerSettingsApplyResult result) {
        auto strongLog = log.lock();
        if (!result && strongLog) {
            strongLog->write(
                statusTexts::logCategory,
                "Could not follow a network-interface change: " + result.error().description());
        }
        if (completion) {
            completion(std::move(result));
        }
    };
    applyOperation(std::move(apply));
}

BackendServerBinding ServerSettingsApplier::resolveStored() const {
    return resolve(dependencies_.settings->serverConfiguration());
}

void ServerSettingsApplier::serverStarted(BackendServerBinding binding) {
    runningBinding_ = std::move(binding);
}

BackendServerBinding ServerSettingsApplier::resolve(
    const HubServerConfiguration& configuration) const {
    return HubServerConfigurationResolver::resolve(
        configuration, dependencies_.networkServiceProvider->availableServices());
}

}  // namespace kelvra
