// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "backend/DesktopProtocol.h"
#include "clicker/ClickerInputConfiguration.h"
#include "clicker/ClickerInputMonitoring.h"
#include "server_config/HubServerConfiguration.h"
#include "server_config/ServerConfigurationError.h"
#include "server_config/ServerSettingsApplied.h"
#include "tray/SettingsService.h"

namespace kelvra {

/// The colour of the status line's symbol; the text keeps the normal label colour.
enum class StatusColor { secondary, green, red };

/// The first, always disabled line of the tray menu: "● Running on …".
struct StatusLine {
    std::string symbol;
    StatusColor color = StatusColor::secondary;
    std::string text;

    friend bool operator==(const StatusLine&, const StatusLine&) = default;
};

/// What the settings window shows when it is opened.
struct SettingsWindowState {
    /// The current address; absent while none.
    std::optional<std::string> url;
    /// The server configuration in effect.
    HubServerConfiguration configuration;
    bool showWelcomeWindow = true;
};

/// What the Clicker Distributor window shows of the backend and the keyboard listener.
struct ClickerWindowState {
    /// The assignments in effect, for a window not created yet; one that exists keeps its own.
    ClickerInputConfiguration configuration;
    ClickerDistributorState distributor;
    bool backendAvailable = false;
    ClickerInputListenerState listener = ClickerInputListenerState::stopped;
    /// Assigned keystrokes another program holds.
    std::vector<ClickerKeystroke> conflicts;
};

/// Everything the status-bar controller shows or asks of the desktop: the tray item and its
/// menu, alerts, clipboard, browser, the four windows and the end of the application. The
/// application implements it with Qt; tests record the calls. Every call is made on the main
/// thread, and every completion is expected there, exactly once. Showing a window or an alert
/// brings the application to the front; windows are created on first use.
class StatusBarView {
public:
    virtual ~StatusBarView() = default;

    // Tray item and menu.
    virtual void setStatusLine(const StatusLine& line) = 0;
    virtual void setToolTip(const std::string& toolTip) = 0;
    /// "Open Control Page" and "Copy URL", enabled together while a ready URL exists.
    virtual void setURLActionsEnabled(bool enabled) = 0;
    /// Takes the tray item away for good (fatal error, shutdown).
    virtual void removeStatusItem() = 0;

    // Alerts, modal and kept on top.
    /// A critical alert with one "OK" button; `dismissed` runs once it is closed.
    virtual void showCriticalAlert(const std::string& message, const std::string& informativeText,
                                   std::function<void()> dismissed) = 0;
    /// Brings the critical alerts still open to the front again.
    virtual void raiseCriticalAlerts() = 0;
    /// The quit confirmation ("Quit" / "Cancel"); completes with true for "Quit".
    virtual void confirmQuit(std::function<void(bool quit)> completion) = 0;

    // Desktop.
    /// Puts `text` on the clipboard as plain text; false when it could not be placed there.
    virtual bool writeClipboard(const std::string& text) = 0;
    /// Opens `url` in the default browser; completes with whether the browser took it.
    virtual void openURL(const std::string& url, std::function<void(bool opened)> completion) = 0;
    /// Asks the application to terminate; the delegate's termination flow answers it.
    virtual void requestTermination() = 0;

    // Windows.
    /// The control page's address for the settings and welcome windows; absent while the
    /// server starts or restarts (the welcome window then waits).
    virtual void showServerURL(const std::optional<std::string>& url) = 0;
    /// The welcome window at startup, its "don't show again" box set as given.
    virtual void showWelcomeWindow(bool dontShowAgainChecked) = 0;
    virtual void showSettingsWindow(const SettingsWindowState& state) = 0;
    /// The network services may have changed: the settings window lists them again.
    virtual void reloadNetworkChoices() = 0;
    virtual void showAboutWindow() = 0;

    // The Clicker Distributor window. Only `showClickerWindow` creates it; the other calls
    // are made once it has been shown.
    virtual void showClickerWindow(const ClickerWindowState& state) = 0;
    virtual void updateClickerState(const ClickerDistributorState& state,
                                    bool backendAvailable) = 0;
    /// The backend is going away for a restart: no master-switch update is pending any more,
    /// a running input test ends without a message, runtime controls are refreshed.
    virtual void clickerBackendRestarting() = 0;
    virtual void setClickerListenerState(ClickerInputListenerState state) = 0;
    /// Assigned keystrokes another program holds; empty once none is held.
    virtual void setClickerConflicts(const std::vector<ClickerKeystroke>& keystrokes) = 0;
    /// The application became active: the window reads the keyboard access status again.
    virtual void refreshClickerPermission() = 0;
    /// An assigned Previous/Next key arrived while the window's input test runs.
    virtual void clickerInputDetected(ClickerDirection direction) = 0;
};

}  // namespace kelvra
