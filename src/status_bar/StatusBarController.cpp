// SPDX-License-Identifier: MIT
#include "status_bar/StatusBarController.h"

#include "server_config/ControlPageAddress.h"

namespace kelvra {
namespace {

constexpr std::string_view category = "shell";

const StatusLine startingStatus{"●", StatusColor::secondary, "Starting Kelvra Hub…"};
const StatusLine restartingStatus{"●", StatusColor::secondary, "Restarting Kelvra Hub…"};
const StatusLine errorStatus{"✕", StatusColor::red, "Kelvra Hub server error"};

}  // namespace

/// One apply as it moves through its steps.
struct StatusBarController::Apply {
    HubServerConfiguration configuration;
    bool forceRestart = false;
    ApplyCompletion completion;
    std::function<void()> done;
    ResolvedHubServerConfiguration previous;
    ResolvedHubServerConfiguration next;

    void finish(ServerSettingsApplyResult result) {
        auto finished = std::move(done);
        completion(std::move(result));
        finished();
    }
};

std::shared_ptr<StatusBarController> StatusBarController::create(StatusBarControllerParts parts) {
    std::shared_ptr<StatusBarController> controller(new StatusBarController(std::move(parts)));
    controller->initialize();
    return controller;
}

StatusBarController::StatusBarController(StatusBarControllerParts parts)
    : parts_(std::move(parts)) {}

void StatusBarController::initialize() {
    std::weak_ptr weakSelf = weak_from_this();
    auto makeMonitor = [weakSelf,
                        make = parts_.makeClickerMonitor](ClickerInputMonitorReports reports) {
        return make(
            [weakSelf](ClickerCapturedInput input) {
                if (auto self = weakSelf.lock()) {
                    self->handleCapturedInput(input);
                }
            },
            std::move(reports));
    };
    ClickerInputMonitorReports reports{
        .onState =
            [weakSelf](ClickerInputListenerState state) {
                if (auto self = weakSelf.lock()) {
                    self->clickerListenerStateChanged(state);
                }
            },
        .onConflicts =
            [weakSelf](std::vector<ClickerKeystroke> keystrokes) {
                auto self = weakSelf.lock();
                if (self && self->clickerWindowWasPresented_) {
                    self->parts_.view->setClickerConflicts(keystrokes);
                }
            },
    };
    clickerInputLifecycle_ = std::make_unique<ClickerInputMonitorLifecycle>(
        std::move(makeMonitor), parts_.mainThread, std::move(reports));
    clickerInputLifecycle_->updateConfiguration(parts_.clickerConfigurationStore->configuration());
    clickerInputLifecycle_->setPermissionGranted(parts_.clickerAccessGranted());
    clickerInputLifecycle_->reconcile();
    parts_.view->setURLActionsEnabled(false);
    setStatus(startingStatus);
    parts_.view->setToolTip("Kelvra Hub — Starting…");
}

// ---- Start and shutdown -------------------------------------------------------------------

void StatusBarController::start(StartCompletion completion) {
    auto shared = std::make_shared<StartCompletion>(std::move(completion));
    std::weak_ptr weakSelf = weak_from_this();
    enqueue({.run =
                 [weakSelf, shared](std::function<void()> done) {
                     if (auto self = weakSelf.lock()) {
                         self->startOperation(std::move(*shared), std::move(done));
                     }
                 },
             .abandon =
                 [weakSelf, shared] {
                     if (auto self = weakSelf.lock()) {
                         self->parts_.log->write(category, "Did not start the backend: quitting.");
                     }
                     (*shared)({});
                 }});
}

void StatusBarController::startOperation(StartCompletion completion, std::function<void()> done) {
    if (auto applied = parts_.launchAtLoginPreference->applyDefaultIfNeeded(); !applied) {
        parts_.log->write(category, "Could not enable run at system startup: " +
                                        Error(applied.error()).description());
    }
    if (parts_.welcomePreference->shouldShowAtStartup()) {
        parts_.view->showWelcomeWindow(false);
    }
    auto resolution = resolveNow(parts_.serverConfigurationStore->configuration());
    std::weak_ptr weakSelf = weak_from_this();
    launchBackend(resolution.binding, [weakSelf, resolution, completion = std::move(completion),
                                       done = std::move(done)](auto launched) mutable {
        if (auto self = weakSelf.lock()) {
            self->startLaunched(std::move(launched), std::move(resolution), std::move(completion),
                                std::move(done));
        }
    });
}

void StatusBarController::startLaunched(
    std::expected<std::pair<std::shared_ptr<BackendSupervising>, std::string>, BackendStartError>
        launched,
    ResolvedHubServerConfiguration resolution, StartCompletion completion,
    std::function<void()> done) {
    if (!launched) {
        completion(std::unexpected(Error(launched.error())));
        done();
        return;
    }
    resolvedServerConfiguration_ = std::move(resolution);
    if (closing_) {
        // Shutdown waits for this start and then stops the backend it brought up.
        completion({});
        done();
        return;
    }
    setReady(launched->second);
    std::weak_ptr weakSelf = weak_from_this();
    parts_.networkServiceMonitor->setOnChange([weakSelf] {
        if (auto self = weakSelf.lock()) {
            self->networkServicesDidChange();
        }
    });
    parts_.networkServiceMonitor->start();
    if (openWhenReady_) {
        openWhenReady_ = false;
        openKelvra();
    }
    completion({});
    done();
}

void StatusBarController::shutdown(std::function<void()> completion) {
    closing_ = true;
    shutdownCompletions_.push_back(std::move(completion));
    if (shutdownStarted_) {
        return;
    }
    shutdownStarted_ = true;
    parts_.networkServiceMonitor->stop();
    clearClickerDemands();
    setClickerBackend(nullptr);
    std::weak_ptr weakSelf = weak_from_this();
    // Whatever has not begun never will; what runs is waited for, so its backend is stopped.
    whenIdle([weakSelf] {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        self->stopBackend(std::exchange(self->backend_, nullptr), [weakSelf] {
            auto stopped = weakSelf.lock();
            if (!stopped) {
                return;
            }
            stopped->removeStatusItem();
            for (auto& finished : std::exchange(stopped->shutdownCompletions_, {})) {
                finished();
            }
        });
    });
}

void StatusBarController::showFatalError(const std::string& message) {
    if (closing_) {
        parts_.log->write(category, "Not shown while closing: " + message);
        return;
    }
    closing_ = true;
    fatalErrorShown_ = true;
    parts_.log->write(category, "Fatal error: " + message);
    clearClickerDemands();
    setClickerBackend(nullptr);
    setStatus(errorStatus);
    parts_.view->setURLActionsEnabled(false);
    removeStatusItem();
    std::weak_ptr view = parts_.view;
    parts_.view->showCriticalAlert(message, "Log: " + parts_.logPath, [view] {
        if (auto strongView = view.lock()) {
            strongView->requestTermination();
        }
    });
}

void StatusBarController::handleUnexpectedExit(int32_t code) {
    setStatus(errorStatus);
    showFatalError("The Kelvra Hub server stopped unexpectedly with code " + std::to_string(code) +
                   ".");
}

// ---- One operation at a time --------------------------------------------------------------

void StatusBarController::enqueue(Operation operation) {
    if (closing_) {
        operation.abandon();
        return;
    }
    operations_.push_back(std::move(operation));
    runNextOperation();
}

void StatusBarController::runNextOperation() {
    if (operationRunning_) {
        return;
    }
    if (closing_) {
        networkChangeQueued_ = false;
        for (auto& operation : std::exchange(operations_, {})) {
            operation.abandon();
        }
    }
    if (operations_.empty()) {
        for (auto& waiter : std::exchange(idleWaiters_, {})) {
            waiter();
        }
        return;
    }
    Operation operation = std::move(operations_.front());
    operations_.pop_front();
    if (operation.followsNetworkChange) {
        networkChangeQueued_ = false;
    }
    operationRunning_ = true;
    std::weak_ptr weakSelf = weak_from_this();
    operation.run([weakSelf] {
        if (auto self = weakSelf.lock()) {
            self->operationFinished();
        }
    });
}

void StatusBarController::operationFinished() {
    operationRunning_ = false;
    if (operations_.empty()) {
        runNextOperation();
        return;
    }
    // The next operation starts from a fresh turn of the main loop, not inside a completion.
    std::weak_ptr weakSelf = weak_from_this();
    parts_.mainThread->post([weakSelf] {
        if (auto self = weakSelf.lock()) {
            self->runNextOperation();
        }
    });
}

void StatusBarController::whenIdle(std::function<void()> work) {
    idleWaiters_.push_back(std::move(work));
    runNextOperation();
}

// ---- Launching and stopping backends ------------------------------------------------------

void StatusBarController::launchBackend(const BackendServerBinding& binding,
                                        LaunchCompletion completion) {
    auto supervisor = parts_.makeSupervisor(binding);
    supervisor->setCallbacks(callbacksFor(supervisor));
    backend_ = supervisor;
    setClickerBackend(supervisor);
    std::weak_ptr weakSelf = weak_from_this();
    supervisor->start([weakSelf, supervisor, completion = std::move(completion)](
                          std::expected<std::string, BackendStartError> started) mutable {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        if (started) {
            completion(std::make_pair(supervisor, std::move(*started)));
            return;
        }
        self->setClickerBackend(nullptr);
        // A child that missed its deadline or broke the protocol may still run and hold the
        // port: it is gone before anyone launches again.
        self->stopBackend(supervisor, [weakSelf, supervisor, completion = std::move(completion),
                                       error = std::move(started.error())]() mutable {
            if (auto stopped = weakSelf.lock(); stopped && stopped->backend_ == supervisor) {
                stopped->backend_ = nullptr;
            }
            completion(std::unexpected(std::move(error)));
        });
    });
}

void StatusBarController::stopBackend(std::shared_ptr<BackendSupervising> supervisor,
                                      std::function<void()> completion) {
    if (!supervisor) {
        completion();
        return;
    }
    supervisor->detachCallbacks();
    // The supervisor stays alive until its stop has completed.
    supervisor->stop([supervisor, completion = std::move(completion)] { completion(); });
}

BackendSupervisorCallbacks StatusBarController::callbacksFor(
    const std::shared_ptr<BackendSupervising>& supervisor) {
    std::weak_ptr weakSelf = weak_from_this();
    std::weak_ptr weakSupervisor = supervisor;
    // Each reaches the controller only while that supervisor is still the current one and the
    // controller is not closing.
    auto current = [weakSelf, weakSupervisor]() -> std::shared_ptr<StatusBarController> {
        auto self = weakSelf.lock();
        return self && self->isCurrent(weakSupervisor) ? self : nullptr;
    };
    return {
        .onUnexpectedExit =
            [current](int32_t code) {
                if (auto self = current()) {
                    self->handleUnexpectedExit(code);
                }
            },
        .onFatalProtocol =
            [current](const DesktopProtocolError& error) {
                if (auto self = current()) {
                    self->showFatalError(error.description());
                }
            },
        .onClickerListenerChange =
            [current](bool enabled) {
                auto self = current();
                if (!self || self->hasClickerDistributorState_) {
                    return;
                }
                self->clickerInputLifecycle_->setDistributionRequired(enabled);
                self->clickerInputLifecycle_->reconcile();
            },
        .onClickerDistributorStateChange =
            [current](const ClickerDistributorState& state) {
                auto self = current();
                if (!self) {
                    return;
                }
                self->hasClickerDistributorState_ = true;
                self->clickerDistributorState_ = state;
                self->clickerInputLifecycle_->setDistributionRequired(state.listenerRequired);
                self->clickerInputLifecycle_->reconcile();
                if (self->clickerWindowWasPresented_) {
                    self->parts_.view->updateClickerState(state, true);
                }
            },
        .onClickerDistributorUpdateResult = {},
    };
}

bool StatusBarController::isCurrent(const std::weak_ptr<BackendSupervising>& supervisor) const {
    auto strong = supervisor.lock();
    return !closing_ && strong && strong == backend_;
}

// ---- Applying server settings -------------------------------------------------------------

void StatusBarController::applyServerConfiguration(const HubServerConfiguration& configuration,
                                                   bool forceRestart, ApplyCompletion completion) {
    auto apply = std::make_shared<Apply>();
    apply->configuration = configuration;
    apply->forceRestart = forceRestart;
    apply->completion = std::move(completion);
    std::weak_ptr weakSelf = weak_from_this();
    enqueue({.run =
                 [weakSelf, apply](std::function<void()> done) {
                     apply->done = std::move(done);
                     if (auto self = weakSelf.lock()) {
                         self->applyOperation(apply);
                     }
                 },
             .abandon =
                 [apply] {
                     apply->done = [] {};
                     apply->finish(std::unexpected(ServerConfigurationError::appIsClosing()));
                 }});
}

void StatusBarController::applyOperation(std::shared_ptr<Apply> apply) {
    const auto stored = parts_.serverConfigurationStore->configuration();
    apply->previous = resolvedServerConfiguration_.value_or(resolveNow(stored));
    apply->next = resolveNow(apply->configuration);
    if (!apply->forceRestart && apply->configuration == stored && readyURL_) {
        apply->finish(ServerSettingsApplied{*readyURL_, std::nullopt});
        return;
    }

    readyURL_.reset();
    parts_.view->setURLActionsEnabled(false);
    setStatus(restartingStatus);
    parts_.view->showServerURL(std::nullopt);

    auto old = std::exchange(backend_, nullptr);
    setClickerBackend(nullptr);
    hasClickerDistributorState_ = false;
    clickerInputLifecycle_->setDistributionRequired(false);
    clickerInputLifecycle_->reconcile();
    if (clickerWindowWasPresented_) {
        parts_.view->clickerBackendRestarting();
    }

    std::weak_ptr weakSelf = weak_from_this();
    stopBackend(std::move(old), [weakSelf, apply] {
        if (auto self = weakSelf.lock()) {
            self->applyNewConfiguration(apply);
        }
    });
}

void StatusBarController::applyNewConfiguration(std::shared_ptr<Apply> apply) {
    if (closing_) {
        parts_.log->write(category, "Did not apply server settings: quitting.");
        apply->finish(std::unexpected(ServerConfigurationError::appIsClosing()));
        return;
    }
    std::weak_ptr weakSelf = weak_from_this();
    launchBackend(apply->next.binding, [weakSelf, apply](auto launched) {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        if (!launched) {
            const std::string failure = Error(launched.error()).description();
            self->parts_.log->write(category, "Could not apply server settings: " + failure);
            self->restorePrevious(apply, failure);
            return;
        }
        self->resolvedServerConfiguration_ = apply->next;
        std::optional<std::string> notSavedReason;
        if (auto saved =
                self->parts_.serverConfigurationStore->setConfiguration(apply->configuration);
            !saved) {
            notSavedReason = saved.error().description();
            self->parts_.log->write(category,
                                    "The new server settings run but could not be saved: " +
                                        saved.error().diagnosticDescription());
        }
        if (!self->closing_) {
            self->setReady(launched->second);
        }
        apply->finish(ServerSettingsApplied{launched->second, std::move(notSavedReason)});
    });
}

void StatusBarController::restorePrevious(std::shared_ptr<Apply> apply, std::string failure) {
    if (closing_) {
        apply->finish(std::unexpected(ServerConfigurationError::applyFailed(failure)));
        return;
    }
    std::weak_ptr weakSelf = weak_from_this();
    launchBackend(apply->previous.binding, [weakSelf, apply, failure](auto launched) {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        if (launched) {
            self->resolvedServerConfiguration_ = apply->previous;
            if (!self->closing_) {
                self->setReady(launched->second);
            }
            apply->finish(std::unexpected(ServerConfigurationError::applyFailed(failure)));
            return;
        }
        const std::string restoreFailure = Error(launched.error()).description();
        self->showFatalError(
            "Kelvra Hub could not restore the previous server after the new settings failed: " +
            restoreFailure);
        apply->finish(std::unexpected(ServerConfigurationError::restoreFailed(restoreFailure)));
    });
}

void StatusBarController::networkServicesDidChange() {
    if (closing_) {
        return;
    }
    parts_.view->reloadNetworkChoices();
    const auto resolution = resolveNow(parts_.serverConfigurationStore->configuration());
    if (resolvedServerConfiguration_ &&
        resolvedServerConfiguration_->binding == resolution.binding) {
        return;
    }
    // One queued follow-up is enough: it resolves the stored settings when it runs.
    if (networkChangeQueued_) {
        return;
    }
    networkChangeQueued_ = true;
    std::weak_ptr weakSelf = weak_from_this();
    enqueue({.run =
                 [weakSelf](std::function<void()> done) {
                     if (auto self = weakSelf.lock()) {
                         self->followNetworkChange(std::move(done));
                     }
                 },
             .abandon = [] {},
             .followsNetworkChange = true});
}

void StatusBarController::followNetworkChange(std::function<void()> done) {
    const auto stored = parts_.serverConfigurationStore->configuration();
    const auto resolution = resolveNow(stored);
    if (readyURL_ && resolvedServerConfiguration_ &&
        resolvedServerConfiguration_->binding == resolution.binding) {
        done();
        return;
    }
    auto apply = std::make_shared<Apply>();
    apply->configuration = stored;
    apply->forceRestart = true;
    apply->done = std::move(done);
    std::weak_ptr log = parts_.log;
    apply->completion = [log](ServerSettingsApplyResult result) {
        auto strongLog = log.lock();
        if (!result && strongLog) {
            strongLog->write(category, "Could not follow a network-interface change: " +
                                           result.error().description());
        }
    };
    applyOperation(std::move(apply));
}

// ---- Readiness and the status line --------------------------------------------------------

void StatusBarController::setReady(const std::string& url) {
    readyURL_ = url;
    parts_.view->showServerURL(url);
    parts_.view->setURLActionsEnabled(true);
    parts_.view->setToolTip("Kelvra Hub");
    setStatus({"●", StatusColor::green, "Running on " + controlPageHostAndPort(url)});
    parts_.log->write(category, "Backend ready at " + url + ".");
}

void StatusBarController::setStatus(StatusLine line) {
    parts_.view->setStatusLine(line);
}

void StatusBarController::removeStatusItem() {
    if (statusItemRemoved_) {
        return;
    }
    statusItemRemoved_ = true;
    parts_.view->removeStatusItem();
}

ResolvedHubServerConfiguration StatusBarController::resolveNow(
    const HubServerConfiguration& configuration) const {
    return HubServerConfigurationResolver::resolve(
        configuration, parts_.networkServiceProvider->availableServices());
}

// ---- Menu and window actions --------------------------------------------------------------

void StatusBarController::openKelvra() {
    if (!readyURL_) {
        openWhenReady_ = true;
        return;
    }
    const std::string url = *readyURL_;
    std::weak_ptr weakSelf = weak_from_this();
    parts_.view->openURL(url, [weakSelf, url](bool opened) {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        if (opened) {
            self->parts_.log->write(category, "Opened " + url + " in the default browser.");
            return;
        }
        self->parts_.log->write(category, "Could not open " + url + " in the default browser.");
        self->parts_.view->showCriticalAlert("Kelvra Hub could not open your default browser.",
                                             "Open " + url + " manually.", [] {});
    });
}

void StatusBarController::copyURL() {
    if (!readyURL_) {
        return;
    }
    const std::string url = *readyURL_;
    if (parts_.view->writeClipboard(url)) {
        parts_.log->write(category, "Copied " + url + " to the clipboard.");
        return;
    }
    parts_.log->write(category, "Could not copy " + url + " to the clipboard.");
    parts_.view->showCriticalAlert("Kelvra Hub could not copy the URL.",
                                   "Copy " + url + " manually.", [] {});
}

void StatusBarController::showSettings() {
    parts_.view->showSettingsWindow(readyURL_);
}

void StatusBarController::showClickerDistributor() {
    clickerWindowWasPresented_ = true;
    parts_.view->showClickerWindow(clickerDistributorState_, clickerBackend() != nullptr);
}

void StatusBarController::showAbout() {
    parts_.view->showAboutWindow();
}

void StatusBarController::checkForUpdates(UpdateCheckSender sender) {
    parts_.updateChecker->checkForUpdates(std::move(sender));
}

void StatusBarController::confirmQuit() {
    std::weak_ptr view = parts_.view;
    parts_.view->confirmQuit([view](bool quit) {
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
    clickerInputLifecycle_->setPermissionGranted(parts_.clickerAccessGranted());
    clickerInputLifecycle_->reconcile();
    if (clickerWindowWasPresented_) {
        parts_.view->refreshClickerPermission();
    }
}

// ---- The Clicker Distributor --------------------------------------------------------------

void StatusBarController::setClickerDistributorEnabled(
    bool enabled, BackendSupervising::UpdateCompletion completion) {
    if (auto supervisor = clickerBackend()) {
        supervisor->setClickerDistributorEnabled(enabled, std::move(completion));
        return;
    }
    completion(
        std::unexpected(BackendSupervisorError(BackendSupervisorError::Kind::backendUnavailable)));
}

void StatusBarController::clickerConfigurationChanged(
    const ClickerInputConfiguration& configuration) {
    clickerInputLifecycle_->updateConfiguration(configuration);
}

void StatusBarController::clickerTestDemandChanged(bool required) {
    clickerInputRoutingState_.setInputTestRequired(required);
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

void StatusBarController::clickerListenerStateChanged(ClickerInputListenerState state) {
    if (clickerWindowWasPresented_) {
        parts_.view->setClickerListenerState(state);
    }
}

void StatusBarController::handleCapturedInput(const ClickerCapturedInput& input) {
    const bool testing = clickerInputRoutingState_.inputTestRequired();
    if (const auto* direction = std::get_if<ClickerDirection>(&input)) {
        if (testing) {
            std::weak_ptr weakSelf = weak_from_this();
            parts_.mainThread->post([weakSelf, direction = *direction] {
                if (auto self = weakSelf.lock()) {
                    self->parts_.view->clickerInputDetected(direction);
                }
            });
            return;
        }
        if (auto supervisor = clickerBackend()) {
            supervisor->sendClickerKey(*direction);
        }
        return;
    }
    if (testing) {
        return;
    }
    if (auto supervisor = clickerBackend()) {
        supervisor->sendClickerAction(std::get<ClickerCustomAction>(input));
    }
}

void StatusBarController::clearClickerDemands() {
    auto& listener = *clickerInputLifecycle_;
    listener.setDistributionRequired(false);
    listener.setTestRequired(false);
    listener.setRecordingRequired(false);
    listener.setPermissionGranted(false);
    listener.reconcile();
}

void StatusBarController::setClickerBackend(std::shared_ptr<BackendSupervising> supervisor) {
    std::unique_lock lock(clickerBackendLock_);
    std::swap(clickerBackend_, supervisor);
    lock.unlock();
    // The previous one is released here, outside the lock.
}

std::shared_ptr<BackendSupervising> StatusBarController::clickerBackend() const {
    std::lock_guard lock(clickerBackendLock_);
    return clickerBackend_;
}

}  // namespace kelvra
