// SPDX-License-Identifier: MIT
#include "tray/StatusBarController.h"

#include "core/Weakly.h"
#include "tray/StatusBarTexts.h"

namespace kelvra {

std::shared_ptr<StatusBarController> StatusBarController::create(
    StatusBarControllerDependencies dependencies) {
    std::shared_ptr<StatusBarController> controller(
        new StatusBarController(std::move(dependencies)));
    controller->initialize();
    return controller;
}

StatusBarController::StatusBarController(StatusBarControllerDependencies dependencies)
    : dependencies_(std::move(dependencies)),
      operations_(OperationQueue::create(dependencies_.mainThread)) {}

void StatusBarController::initialize() {
    backendHost_ = BackendHost::create(dependencies_.makeSupervisor, backendEvents());
    serverSettingsApplier_ = ServerSettingsApplier::create({
        .host = backendHost_,
        .operations = operations_,
        .settings = dependencies_.settings,
        .networkServiceProvider = dependencies_.networkServiceProvider,
        .log = dependencies_.log,
    });
    clickerModel_ = makeClickerModel();
    clickerInput_ = std::make_shared<ClickerInputRouter>(
        dependencies_.mainThread,
        weakly(weak_from_this(), [](StatusBarController& self, ClickerDirection direction) {
            self.clickerModel_->detectedAssignedInput(direction);
        }));
    auto makeMonitor = [router = clickerInput_, make = dependencies_.makeClickerMonitor](
                           ClickerInputMonitorReports reports) {
        return make([router](const ClickerCapturedInput& input) { router->route(input); },
                    std::move(reports));
    };
    ClickerInputMonitorReports reports{
        .onState = weakly(weak_from_this(),
                          [](StatusBarController& self, ClickerInputListenerState state) {
                              self.clickerListenerStateChanged(state);
                          }),
        .onConflicts =
            weakly(weak_from_this(),
                   [](StatusBarController& self, std::vector<ClickerKeystroke> keystrokes) {
                       self.clickerModel_->setConflicts(std::move(keystrokes));
                   }),
    };
    clickerInputLifecycle_ = std::make_unique<ClickerInputMonitorLifecycle>(
        std::move(makeMonitor), dependencies_.mainThread, std::move(reports));
    clickerInputLifecycle_->updateConfiguration(dependencies_.settings->clickerConfiguration());
    clickerInputLifecycle_->setPermissionGranted(clickerAccessGranted());
    clickerInputLifecycle_->reconcile();
    dependencies_.view->setURLActionsEnabled(false);
    dependencies_.view->setStatusLine(statusTexts::statusLine(serverStatus_));
    dependencies_.view->setToolTip(std::string(statusTexts::startingToolTip));
}

void StatusBarController::setWindowLinks(WindowLinks links) {
    windows_ = std::move(links);
    if (windows_.serverStatus) {
        windows_.serverStatus(serverStatus_);
    }
}

void StatusBarController::setServerStatus(ServerStatus status) {
    serverStatus_ = std::move(status);
    dependencies_.view->setStatusLine(statusTexts::statusLine(serverStatus_));
    if (windows_.serverStatus) {
        windows_.serverStatus(serverStatus_);
    }
}

// ---- Start --------------------------------------------------------------------------------

void StatusBarController::start(StartCompletion completion) {
    auto shared = std::make_shared<StartCompletion>(std::move(completion));
    operations_->enqueue({
        .run = weakly(weak_from_this(),
                      [shared](StatusBarController& self, std::function<void()> done) {
                          self.startOperation(std::move(*shared), std::move(done));
                      }),
        .abandon = [shared] { (*shared)({}); },
    });
}

void StatusBarController::startOperation(StartCompletion completion, std::function<void()> done) {
    if (auto applied = dependencies_.settings->applyLaunchAtLoginDefault(); !applied) {
        dependencies_.log->write(
            statusTexts::logCategory,
            "Could not enable run at system startup: " + applied.error().description());
    }
    if (dependencies_.settings->startupOptions().showWelcomeWindow && windows_.welcomeWanted) {
        windows_.welcomeWanted();
    }
    const auto binding = serverSettingsApplier_->resolveStored();
    backendHost_->launch(
        binding, weakly(weak_from_this(),
                        [binding, completion = std::move(completion), done = std::move(done)](
                            StatusBarController& self, BackendHost::Launched launched) mutable {
                            self.startLaunched(std::move(launched), binding, std::move(completion),
                                               std::move(done));
                        }));
}

void StatusBarController::startLaunched(BackendHost::Launched launched,
                                        BackendServerBinding binding, StartCompletion completion,
                                        std::function<void()> done) {
    if (!launched) {
        completion(std::unexpected(Error(launched.error())));
        done();
        return;
    }
    serverSettingsApplier_->serverStarted(std::move(binding));
    // While closing, shutdown is waiting for this start and then stops what it brought up.
    if (!closing_) {
        dependencies_.networkServiceMonitor->setOnChange(weakly(
            weak_from_this(), [](StatusBarController& self) { self.networkServicesDidChange(); }));
        dependencies_.networkServiceMonitor->start();
        if (std::exchange(openWhenReady_, false)) {
            openKelvra();
        }
    }
    completion({});
    done();
}

// ---- The backend's life --------------------------------------------------------------------

BackendHost::Events StatusBarController::backendEvents() {
    return {
        .currentChanged =
            weakly(weak_from_this(),
                   [](StatusBarController& self, std::shared_ptr<BackendSupervising> supervisor) {
                       self.clickerInput_->setBackend(std::move(supervisor));
                   }),
        .ready = weakly(weak_from_this(), [](StatusBarController& self,
                                             const std::string& url) { self.setReady(url); }),
        .stopping =
            weakly(weak_from_this(), [](StatusBarController& self) { self.backendStopping(); }),
        .reports =
            {
                .onUnexpectedExit =
                    weakly(weak_from_this(), [](StatusBarController& self,
                                                int32_t code) { self.handleUnexpectedExit(code); }),
                .onFatalProtocol =
                    weakly(weak_from_this(),
                           [](StatusBarController& self, const DesktopProtocolError& error) {
                               self.showFatalError(error.description());
                           }),
                .onClickerListenerChange =
                    weakly(weak_from_this(),
                           [](StatusBarController& self, bool enabled) {
                               if (!self.hasClickerDistributorState_) {
                                   self.clickerInputLifecycle_->setDistributionRequired(enabled);
                                   self.clickerInputLifecycle_->reconcile();
                               }
                           }),
                .onClickerDistributorStateChange =
                    weakly(weak_from_this(),
                           [](StatusBarController& self, const ClickerDistributorState& state) {
                               self.hasClickerDistributorState_ = true;
                               self.clickerInputLifecycle_->setDistributionRequired(
                                   state.listenerRequired);
                               self.clickerInputLifecycle_->reconcile();
                               self.clickerModel_->updateDistributorState(state, true);
                           }),
                .onClickerDistributorUpdateResult = {},
            },
    };
}

void StatusBarController::backendStopping() {
    dependencies_.view->setURLActionsEnabled(false);
    if (closing_) {
        return;
    }
    setServerStatus(appliesRunning_ > 0 ? ServerStatus::applying() : ServerStatus::restarting());
    hasClickerDistributorState_ = false;
    clickerInputLifecycle_->withdrawDistribution();
    clickerInputLifecycle_->reconcile();
    clickerModel_->backendRestarting();
}

void StatusBarController::networkServicesDidChange() {
    if (closing_) {
        return;
    }
    if (windows_.networksChanged) {
        windows_.networksChanged();
    }
    serverSettingsApplier_->networkServicesDidChange(weakly(
        weak_from_this(), [](StatusBarController& self, const ServerSettingsApplyResult& result) {
            self.endIfRestoreFailed(result);
        }));
}

void StatusBarController::endIfRestoreFailed(const ServerSettingsApplyResult& result) {
    if (!result && result.error().kind() == ServerConfigurationError::Kind::restoreFailed) {
        showFatalError(
            "Kelvra Hub could not restore the previous server after the new settings failed: " +
            result.error().detail());
    }
}

// ---- Readiness, fatal errors and shutdown -------------------------------------------------

void StatusBarController::setReady(const std::string& url) {
    dependencies_.view->setURLActionsEnabled(true);
    dependencies_.view->setToolTip(std::string(statusTexts::readyToolTip));
    // An apply the person asked for shows until it has answered.
    if (appliesRunning_ == 0) {
        setServerStatus(ServerStatus::running(url));
    }
    dependencies_.log->write(statusTexts::logCategory, "Backend ready at " + url + ".");
}

void StatusBarController::handleUnexpectedExit(int32_t code) {
    showFatalError("The Kelvra Hub server stopped unexpectedly with code " + std::to_string(code) +
                   ".");
}

void StatusBarController::showFatalError(const std::string& message) {
    if (closing_) {
        dependencies_.log->write(statusTexts::logCategory, "Not shown while closing: " + message);
        return;
    }
    closing_ = true;
    backendHost_->close();
    fatalAlertShown_ = true;
    operations_->close();
    dependencies_.log->write(statusTexts::logCategory, "Fatal error: " + message);
    clearClickerDemands();
    clickerInput_->setBackend(nullptr);
    dependencies_.view->setURLActionsEnabled(false);
    setServerStatus(ServerStatus::failed());
    removeStatusItem();
    dependencies_.view->showCriticalAlert(message, "Log: " + dependencies_.logPath,
                                          dependencies_.requestTermination);
}

void StatusBarController::shutdown(std::function<void()> completion) {
    closing_ = true;
    backendHost_->close();
    shutdownCompletions_.push_back(std::move(completion));
    if (std::exchange(shutdownStarted_, true)) {
        return;
    }
    dependencies_.networkServiceMonitor->stop();
    clearClickerDemands();
    clickerInput_->setBackend(nullptr);
    dependencies_.view->setURLActionsEnabled(false);
    // What waits never runs; what runs is waited for, so that its backend is stopped too.
    operations_->close();
    operations_->whenIdle(weakly(weak_from_this(), [](StatusBarController& self) {
        self.backendHost_->stop(weakly(self.weak_from_this(), [](StatusBarController& stopped) {
            stopped.removeStatusItem();
            for (auto& finished : std::exchange(stopped.shutdownCompletions_, {})) {
                finished();
            }
        }));
    }));
}

void StatusBarController::removeStatusItem() {
    if (!std::exchange(statusItemRemoved_, true)) {
        dependencies_.view->removeStatusItem();
    }
}

bool StatusBarController::clickerAccessGranted() const {
    return dependencies_.clickerPermissionProvider->authorizationStatus() ==
           AccessibilityAuthorizationStatus::granted;
}

}  // namespace kelvra
