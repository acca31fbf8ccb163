// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include <QObject>
#include <QPointer>

#include "core/CancellableWork.h"
#include "core/MainThreadExecutor.h"
#include "desktop/Browser.h"
#include "tray/StatusBarView.h"
#include "tray/qt/TrayIcon.h"

class QMessageBox;

namespace kelvra {

/// The status-bar view on a Qt desktop: the tray icon and its menu, alerts, the clipboard and the
/// browser. It decides nothing itself: the menu's choices leave as the tray icon's signals.
///
/// At login the tray may come up after us: the icon follows the trays for the whole run, and
/// only when none has taken it after `kTrayWaitLimit` is `trayMissing` reported, so that the
/// welcome window can stand in for it. `KELVRA_HUB_TRAY_WAIT_SECONDS` shortens the wait for tests.
class QtStatusBarView final : public QObject, public StatusBarView {
    Q_OBJECT

public:
    static constexpr std::chrono::seconds kTrayWaitLimit{30};

    explicit QtStatusBarView(std::shared_ptr<MainThreadExecutor> mainThread,
                             QObject* parent = nullptr);
    ~QtStatusBarView() override;

    /// Whether the status item lives in a tray now.
    bool hasTray() const { return tray_.isDocked(); }

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

signals:
    /// No tray took the item within the wait limit.
    void trayMissing();

private:
    TrayIcon tray_;
    Browser browser_;
    std::vector<QPointer<QMessageBox>> criticalAlerts_;
    bool statusItemRemoved_ = false;
    CancellableWork trayWait_;
};

/// Shows one of our windows in front, with the keyboard focus, even when it was minimized.
void bringToFront(QWidget& window);

}  // namespace kelvra
