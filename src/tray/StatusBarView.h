// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <string>

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

/// What the status-bar controller shows or asks of the desktop: the tray item and its menu,
/// alerts, the clipboard and the browser. The windows are not its business; they get their
/// models from the composition root. The application implements it with Qt; tests record the
/// calls. Every call is made on the main thread, and every completion is expected there,
/// exactly once. Showing an alert brings the application to the front.
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
};

}  // namespace kelvra
