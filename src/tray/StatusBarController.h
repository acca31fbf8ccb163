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
#include "clicker_window/ClickerDistributorModel.h"
#include "core/Error.h"
#include "core/LogSink.h"
#include "core/MainThreadExecutor.h"
#include "server_config/HubNetworkServiceMonitor.h"
#include "server_config/HubNetworkServiceProvider.h"
#include "server_config/ServerStatus.h"
#include "shell/updates/UpdateChecking.h"
#include "tray/BackendHost.h"
#include "tray/ClickerInputRouter.h"
#include "tray/OperationQueue.h"
#include "tray/ServerSettingsApplier.h"
#include "tray/SettingsService.h"
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
    /// Asks the application to terminate (the delegate's termination flow).
    std::function<void()> requestTermination;
    BackendSupervisorFactory makeSupervisor;
    std::shared_ptr<UpdateChecking> updateChecker;
    std::shared_ptr<SettingsService> settings;
    std::shared_ptr<const HubNetworkServiceProvider> networkServiceProvider;
    std::shared_ptr<HubNetworkServiceMonitor> networkServiceMonitor;
    ClickerMonitorFactory makeClickerMonitor;
    std::shared_ptr<AccessibilityPermissionProviding> clickerPermissionProvider;
};

/// The tray application's controller: runs the backend server and publishes its status, answers
/// the menu and the windows (new server settings through its `ServerSettingsApplier`), keeps the
/// Clicker Distributor window's model informed, and routes clicker keys to the backend.
///
/// Lives on the main thread; the keyboard listener's tap thread reaches only its
/// `ClickerInputRouter`. The start and every apply run one after another, never
/// overlapping. `shutdown` and the fatal path close the controller: from then on no backend is
/// launched, callbacks of the backend are ignored, and failures are only logged.
class StatusBarController final : public std::enable_shared_from_this<StatusBarController> {
public:
    using StartCompletion = std::function<void(std::expected<void, Error>)>;
    using ApplyCompletion = std::function<void(ServerSettingsApplyResult)>;

    /// What the windows follow of the controller; each may be empty.
    struct WindowLinks {
        /// The server's status, at once and on every change.
        std::function<void(const ServerStatus&)> serverStatus;
        /// The network services may have changed: the network list is read again.
        std::function<void()> networksChanged;
        /// The welcome window at startup, its preference being on.
        std::function<void()> welcomeWanted;
        /// The Clicker Distributor window comes to the front (before keyboard access is asked).
        std::function<void()> raiseClickerWindow;
    };

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

    /// Connects the windows; the server status is given at once.
    void setWindowLinks(WindowLinks links);
    const ServerStatus& serverStatus() const { return serverStatus_; }
    /// The Clicker Distributor window's model, kept up to date with the backend and listener.
    ClickerDistributorModel& clickerModel() { return *clickerModel_; }

    /// A second launch asked for the control page: opens it as `openKelvra` does. Once quitting
    /// has begun nothing opens; behind the fatal alert, the alert comes to the front again.
    void openRequested();

    // The menu's and the windows' actions.
    /// Opens the control page, or once the server is first ready when it is not yet; nothing
    /// once quitting has begun.
    void openKelvra();
    void copyURL();
    void checkForUpdates(UpdateCheckSender sender);
    void confirmQuit();
    /// One of our windows gained focus.
    void applicationDidBecomeActive();
    /// A link in a window; an alert says so when no browser takes it.
    void openPage(const std::string& url);
    /// Applies and, once it runs, stores a server configuration the person chose; the status
    /// is `applying` until it ends.
    void applyServerSettings(const HubServerConfiguration& configuration,
                             ApplyCompletion completion);

    // The keyboard listener's reports.
    void clickerListenerStateChanged(ClickerInputListenerState state);

    /// The keyboard listener's demands and current listener.
    const ClickerInputMonitorLifecycle& clickerInputLifecycle() const {
        return *clickerInputLifecycle_;
    }

private:
    explicit StatusBarController(StatusBarControllerDependencies dependencies);
    void initialize();

    // Startup and the backend's life (StatusBarController.cpp).
    void startOperation(StartCompletion completion, std::function<void()> done);
    void startLaunched(BackendHost::Launched launched, BackendServerBinding binding,
                       StartCompletion completion, std::function<void()> done);
    BackendHost::Events backendEvents();
    void setReady(const std::string& url);
    /// The backend goes away; unless quitting, for a restart.
    void backendStopping();
    /// An apply the person asked for has answered: the status shows the server again.
    void applyAnswered(const ServerSettingsApplyResult& result);
    /// A restart that could not bring the previous server back ends the application.
    void endIfRestoreFailed(const ServerSettingsApplyResult& result);
    void handleUnexpectedExit(int32_t code);
    void removeStatusItem();
    void setServerStatus(ServerStatus status);
    bool clickerAccessGranted() const;

    // The Clicker Distributor and its keyboard listener (StatusBarControllerActions.cpp).
    std::unique_ptr<ClickerDistributorModel> makeClickerModel();
    void setClickerDistributorEnabled(bool enabled,
                                      BackendSupervising::UpdateCompletion completion);
    StoredClickerConfiguration commitClickerConfiguration(
        const ClickerInputConfiguration& configuration);
    void clickerTestDemandChanged(bool required);
    void clickerPermissionChanged(bool granted);
    void clearClickerDemands();

    const StatusBarControllerDependencies dependencies_;
    const std::shared_ptr<OperationQueue> operations_;
    std::unique_ptr<ClickerInputMonitorLifecycle> clickerInputLifecycle_;
    std::shared_ptr<BackendHost> backendHost_;
    std::shared_ptr<ServerSettingsApplier> serverSettingsApplier_;

    // Main thread only.
    WindowLinks windows_;
    ServerStatus serverStatus_ = ServerStatus::starting();
    /// Applies the person asked for that have not answered yet.
    int appliesRunning_ = 0;
    std::unique_ptr<ClickerDistributorModel> clickerModel_;
    bool hasClickerDistributorState_ = false;
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
