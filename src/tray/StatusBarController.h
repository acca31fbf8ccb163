// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backend/BackendSupervising.h"
#include "clicker/AccessibilityPermissionProviding.h"
#include "clicker/ClickerInputMonitorLifecycle.h"
#include "core/Error.h"
#include "core/LogSink.h"
#include "core/MainThreadExecutor.h"
#include "server_config/HubNetworkServiceMonitor.h"
#include "server_config/HubNetworkServiceProvider.h"
#include "shell/updates/UpdateChecking.h"
#include "tray/BackendHost.h"
#include "tray/ClickerInputRouter.h"
#include "tray/OperationQueue.h"
#include "tray/ServerSettingsApplier.h"
#include "tray/SettingsService.h"
#include "tray/StatusBarActions.h"
#include "tray/StatusBarView.h"

namespace kelvra {

/// Makes a keyboard listener that hands delivered input to `onInput` on its tap thread and
/// reports through `reports`.
using ClickerMonitorFactory = std::function<std::shared_ptr<ClickerInputMonitoring>(
    std::function<void(ClickerCapturedInput)> onInput, ClickerInputMonitorReports reports)>;

/// What the controller is built from; the application passes the real ones, tests their fakes.
struct StatusBarControllerDependencies {
    std::shared_ptr<MainThreadExecutor> mainThread;
    std::shared_ptr<LogSink> log;
    /// The log file's path, named in the fatal alert.
    std::string logPath;
    std::shared_ptr<StatusBarView> view;
    BackendSupervisorFactory makeSupervisor;
    std::shared_ptr<UpdateChecking> updateChecker;
    std::shared_ptr<SettingsService> settings;
    std::shared_ptr<const HubNetworkServiceProvider> networkServiceProvider;
    std::shared_ptr<HubNetworkServiceMonitor> networkServiceMonitor;
    ClickerMonitorFactory makeClickerMonitor;
    std::shared_ptr<AccessibilityPermissionProviding> clickerPermissionProvider;
};

/// The tray application's controller: runs the backend server and shows where it is, answers
/// the menu and the windows (storing what the person sets through its settings service, new
/// server settings through its `ServerSettingsApplier`), and routes clicker keys to the backend.
///
/// Lives on the main thread; the keyboard listener's tap thread reaches only its
/// `ClickerInputRouter`. The start and every apply run one after another, never
/// overlapping. `shutdown` and the fatal path close the controller: from then on no backend is
/// launched, callbacks of the backend are ignored, and failures are only logged.
class StatusBarController final : public StatusBarActions,
                                  public std::enable_shared_from_this<StatusBarController> {
public:
    using StartCompletion = std::function<void(std::expected<void, Error>)>;
    using ApplyCompletion = std::function<void(ServerSettingsApplyResult)>;

    /// Shows the tray item in its starting state and sets up the keyboard listener's demands.
    static std::shared_ptr<StatusBarController> create(
        StatusBarControllerDependencies dependencies);

    StatusBarController(const StatusBarController&) = delete;
    StatusBarController& operator=(const StatusBarController&) = delete;

    /// Applies the run-at-login default, shows the welcome window if wanted, launches the
    /// backend on the stored settings and starts following network changes. Fails with the
    /// launch's error; the caller then shows it through `showFatalError`.
    void start(StartCompletion completion);

    /// Stops following the network, stops the keyboard listener, waits for a start or apply in
    /// flight, stops the backend and takes the tray item away. Never fails.
    void shutdown(std::function<void()> completion);

    /// One alert with `message`, then termination; later calls, and calls while shutting down,
    /// are only logged.
    void showFatalError(const std::string& message);

    /// The network monitor's report: restart when the stored settings now resolve differently.
    void networkServicesDidChange();

    /// Whether quitting has begun (shutdown or the fatal alert): no server is to be reached.
    bool isClosing() const { return closing_; }

    /// A second launch asked for the control page: opens it as `openKelvra` does. Once quitting
    /// has begun nothing opens; behind the fatal alert, the alert comes to the front again.
    void openRequested();

    // Menu and window actions.
    /// Opens the control page, or once the server is first ready when it is not yet; nothing
    /// once quitting has begun.
    void openKelvra() override;
    void copyURL() override;
    void showSettings() override;
    void showClickerDistributor() override;
    void showAbout() override;
    void checkForUpdates(UpdateCheckSender sender) override;
    void confirmQuit() override;
    void applicationDidBecomeActive() override;
    void openPage(const std::string& url) override;

    // The settings window's callbacks.
    void applyServerSettings(const HubServerConfiguration& configuration,
                             ApplyCompletion completion) override;
    StartupOptions startupOptions() override;
    std::expected<void, Error> setShowWelcomeWindow(bool show) override;
    std::expected<LaunchAtLoginState, Error> setLaunchAtLogin(bool enabled) override;

    // The Clicker Distributor window's callbacks.
    void setClickerDistributorEnabled(bool enabled,
                                      BackendSupervising::UpdateCompletion completion) override;
    StoredClickerConfiguration commitClickerConfiguration(
        const ClickerInputConfiguration& configuration) override;
    void clickerTestDemandChanged(bool required) override;
    void clickerRecordingChanged(bool recording) override;
    void clickerPermissionChanged(bool granted) override;

    // The keyboard listener's reports.
    void clickerListenerStateChanged(ClickerInputListenerState state);

    /// The keyboard listener's demands and current listener.
    const ClickerInputMonitorLifecycle& clickerInputLifecycle() const {
        return *clickerInputLifecycle_;
    }

private:
    explicit StatusBarController(StatusBarControllerDependencies dependencies);
    void initialize();

    /// `work(controller, arguments…)` as a callback that holds the controller weakly and does
    /// nothing once it is gone.
    template <typename Work>
    auto weakly(Work work) {
        return [weakSelf = weak_from_this(), work = std::move(work)](auto&&... arguments) mutable {
            if (auto self = weakSelf.lock()) {
                work(*self, std::forward<decltype(arguments)>(arguments)...);
            }
        };
    }

    // Startup and the backend's life (StatusBarController.cpp).
    void startOperation(StartCompletion completion, std::function<void()> done);
    void startLaunched(BackendHost::Launched launched, ResolvedHubServerConfiguration resolution,
                       StartCompletion completion, std::function<void()> done);
    BackendHost::Events backendEvents();
    void setReady(const std::string& url);
    /// The backend goes away; unless quitting, for a restart.
    void backendStopping();
    /// A restart that could not bring the previous server back ends the application.
    void endIfRestoreFailed(const ServerSettingsApplyResult& result);
    void handleUnexpectedExit(int32_t code);
    void removeStatusItem();
    /// No address to reach any more: the URL actions and the windows forget it.
    void forgetReadyURL();
    bool clickerAccessGranted() const;

    // The keyboard listener and key routing (StatusBarControllerActions.cpp).
    void clearClickerDemands();

    const StatusBarControllerDependencies dependencies_;
    const std::shared_ptr<OperationQueue> operations_;
    std::unique_ptr<ClickerInputMonitorLifecycle> clickerInputLifecycle_;
    std::shared_ptr<BackendHost> backendHost_;
    std::shared_ptr<ServerSettingsApplier> serverSettingsApplier_;

    // Main thread only.
    ClickerDistributorState clickerDistributorState_;
    bool hasClickerDistributorState_ = false;
    bool clickerWindowWasPresented_ = false;
    /// The keyboard listener as it last reported, for a window shown later.
    ClickerInputListenerState clickerListenerState_ = ClickerInputListenerState::stopped;
    std::vector<ClickerKeystroke> clickerConflicts_;
    bool openWhenReady_ = false;
    /// Set first by `shutdown` and the fatal path; nothing launches once it is set.
    bool closing_ = false;
    bool fatalAlertShown_ = false;
    bool statusItemRemoved_ = false;
    bool shutdownStarted_ = false;
    std::vector<std::function<void()>> shutdownCompletions_;

    /// Shared with the keyboard listener's tap thread.
    std::shared_ptr<ClickerInputRouter> clickerInput_;
};

}  // namespace kelvra
