// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>

#include <QObject>
#include <QPointer>

#include "core/CancellableWork.h"
#include "core/MainThreadExecutor.h"
#include "shell/WelcomeWindowPreference.h"
#include "status_bar/StatusBarView.h"
#include "status_bar/qt/Browser.h"
#include "status_bar/qt/TrayIcon.h"

namespace kelvra {

class StatusBarController;

/// The status-bar view on a Qt desktop: the tray icon and its menu, alerts, clipboard,
/// browser and the windows, created on first use. Menu choices and window callbacks go to the
/// controller, which it holds weakly.
///
/// At login the tray may come up after us, so the icon waits for one for up to
/// `kTrayWaitLimit`. Without a tray the welcome window stands in for it: it is shown at startup
/// whatever its preference, and an open request presents it again.
class QtStatusBarView final : public QObject, public StatusBarView {
    Q_OBJECT

public:
    static constexpr std::chrono::seconds kTrayWaitLimit{30};
    static constexpr std::chrono::seconds kTrayPollInterval{1};

    struct Parts {
        std::shared_ptr<MainThreadExecutor> mainThread;
        std::shared_ptr<WelcomeWindowPreference> welcomePreference;
        /// Asks the application to terminate (the delegate's termination flow).
        std::function<void()> requestTermination;
    };

    explicit QtStatusBarView(Parts parts, QObject* parent = nullptr);
    ~QtStatusBarView() override;

    void setController(std::weak_ptr<StatusBarController> controller);

    /// Whether the status item lives in a tray; false while waiting for one and without one.
    bool hasTray() const { return trayShown_; }

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
    void confirmQuit(std::function<void(bool quit)> completion) override;

    bool writeClipboard(const std::string& text) override;
    void openURL(const std::string& url, std::function<void(bool opened)> completion) override;
    void requestTermination() override;

    void showServerURL(const std::optional<std::string>& url) override;
    void showWelcomeWindow(bool dontShowAgainChecked) override;
    void showSettingsWindow(const std::optional<std::string>& url) override;
    void reloadNetworkChoices() override;
    void showAboutWindow() override;

    void showClickerWindow(const ClickerDistributorState& state, bool backendAvailable) override;
    void updateClickerState(const ClickerDistributorState& state, bool backendAvailable) override;
    void clickerBackendRestarting() override;
    void setClickerListenerState(ClickerInputListenerState state) override;
    void setClickerConflicts(const std::vector<ClickerKeystroke>& keystrokes) override;
    void refreshClickerPermission() override;
    void clickerInputDetected(ClickerDirection direction) override;

private:
    void waitForTray(std::chrono::steady_clock::time_point deadline);
    void withController(const std::function<void(StatusBarController&)>& action);

    const Parts parts_;
    std::weak_ptr<StatusBarController> controller_;
    TrayIcon tray_;
    Browser browser_;
    StatusLine statusLine_;
    bool trayShown_ = false;
    bool statusItemRemoved_ = false;
    CancellableWork trayWait_;
};

}  // namespace kelvra
