// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>

#include <QObject>
#include <QPointer>

#include "clicker_window/ClickerDistributorModel.h"
#include "core/CancellableWork.h"
#include "core/Error.h"
#include "core/MainThreadExecutor.h"
#include "desktop/Browser.h"
#include "server_config/HubNetworkServiceProvider.h"
#include "shell/login_item/LoginItemService.h"
#include "shell/updates/AppVersionInfo.h"
#include "tray/StatusBarActions.h"
#include "tray/StatusBarView.h"
#include "tray/qt/TrayIcon.h"
#include "windows/ClickerDistributorWindow.h"
#include "windows/SettingsWindow.h"

class QMessageBox;

namespace kelvra {

class AboutWindow;
class WelcomeWindow;

/// The status-bar view on a Qt desktop: the tray icon and its menu, alerts, clipboard,
/// browser and the windows, created on first use. Menu choices and window callbacks go to the
/// actions (the controller), held weakly; the view decides nothing itself.
///
/// At login the tray may come up after us: the icon follows the trays for the whole run, and
/// only when none has taken it after `kTrayWaitLimit` does the welcome window stand in for it:
/// it is shown whatever its preference, and an open request presents it again while there is
/// no tray. `KELVRA_HUB_TRAY_WAIT_SECONDS` shortens the wait for tests.
class QtStatusBarView final : public QObject, public StatusBarView {
    Q_OBJECT

public:
    static constexpr std::chrono::seconds kTrayWaitLimit{30};

    /// What the windows are made of, and the way out of the application.
    struct Dependencies {
        std::shared_ptr<MainThreadExecutor> mainThread;
        AppVersionInfo versionInfo;
        /// Opens the desktop's Startup Applications settings.
        std::shared_ptr<LoginItemService> loginItems;
        std::shared_ptr<const HubNetworkServiceProvider> networkServiceProvider;
        std::shared_ptr<AccessibilityPermissionProviding> permissionProvider;
        /// Asks the application to terminate (the delegate's termination flow).
        std::function<void()> requestTermination;
    };

    explicit QtStatusBarView(Dependencies dependencies, QObject* parent = nullptr);
    ~QtStatusBarView() override;

    void setActions(std::weak_ptr<StatusBarActions> actions);

    /// Whether the status item lives in a tray now.
    bool hasTray() const { return tray_.isDocked(); }

    /// The stand-in for the tray: brings the welcome window up, creating it if needed.
    void presentWelcomeWindow();

    TrayIcon& tray() { return tray_; }
    Browser& browser() { return browser_; }

    void setStatusLine(const StatusLine& line) override;
    void setToolTip(const std::string& toolTip) override;
    void setURLActionsEnabled(bool enabled) override;
    void removeStatusItem() override;

    void showCriticalAlert(const std::string& message, const std::string& informativeText,
                           std::function<void()> dismissed) override;
    void raiseCriticalAlerts() override;
    void confirmQuit(std::function<void(bool quit)> completion) override;

    bool writeClipboard(const std::string& text) override;
    void openURL(const std::string& url, std::function<void(bool opened)> completion) override;
    void requestTermination() override;

    void showServerURL(const std::optional<std::string>& url) override;
    void showWelcomeWindow(bool dontShowAgainChecked) override;
    void showSettingsWindow(const SettingsWindowState& state) override;
    void reloadNetworkChoices() override;
    void showAboutWindow() override;

    void showClickerWindow(const ClickerWindowState& state) override;
    void updateClickerState(const ClickerDistributorState& state, bool backendAvailable) override;
    void clickerBackendRestarting() override;
    void setClickerListenerState(ClickerInputListenerState state) override;
    void setClickerConflicts(const std::vector<ClickerKeystroke>& keystrokes) override;
    void refreshClickerPermission() override;
    void clickerInputDetected(ClickerDirection direction) override;

private:
    void withActions(const std::function<void(StatusBarActions&)>& action);

    WelcomeWindow& welcomeWindow();
    SettingsWindow& settingsWindow();
    StartupOptionsView::Callbacks startupOptionCallbacks();
    ClickerDistributorModel& clickerWindow(const ClickerInputConfiguration& configuration);
    /// Shows a window of ours in front, with the menu's shortcuts.
    void bringToFront(QWidget& window);
    void applyServerSettings(const HubServerConfiguration& configuration,
                             std::function<void(ServerSettingsApplyResult)> completion);

    const Dependencies dependencies_;
    std::weak_ptr<StatusBarActions> actions_;
    TrayIcon tray_;
    Browser browser_;
    std::optional<std::string> serverURL_;
    std::unique_ptr<WelcomeWindow> welcomeWindow_;
    std::unique_ptr<SettingsWindow> settingsWindow_;
    std::unique_ptr<AboutWindow> aboutWindow_;
    std::unique_ptr<ClickerDistributorModel> clickerModel_;
    /// Destroyed before the model it observes.
    std::unique_ptr<ClickerDistributorWindow> clickerWindow_;
    std::vector<QPointer<QMessageBox>> criticalAlerts_;
    bool statusItemRemoved_ = false;
    CancellableWork trayWait_;
};

}  // namespace kelvra
