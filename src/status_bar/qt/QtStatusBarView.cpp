// SPDX-License-Identifier: MIT
#include "status_bar/qt/QtStatusBarView.h"

#include <QApplication>
#include <QPalette>

#include "status_bar/StatusBarController.h"
#include "status_bar/qt/Alert.h"
#include "status_bar/qt/Clipboard.h"

namespace kelvra {
namespace {

QColor colorOf(StatusColor color) {
    const QPalette palette = QApplication::palette();
    const bool dark = palette.color(QPalette::Window).lightnessF() < 0.5;
    switch (color) {
        case StatusColor::secondary: {
            QColor secondary = palette.color(QPalette::WindowText);
            secondary.setAlphaF(0.5);
            return secondary;
        }
        case StatusColor::green:
            return dark ? QColor(48, 209, 88) : QColor(52, 199, 89);
        case StatusColor::red:
            return dark ? QColor(255, 69, 58) : QColor(255, 59, 48);
    }
    return {};
}

QString qtText(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

QtStatusBarView::QtStatusBarView(Parts parts, QObject* parent)
    : QObject(parent), parts_(std::move(parts)) {
    connect(&tray_, &TrayIcon::openControlPageRequested, this,
            [this] { withController([](auto& controller) { controller.openKelvra(); }); });
    connect(&tray_, &TrayIcon::copyURLRequested, this,
            [this] { withController([](auto& controller) { controller.copyURL(); }); });
    connect(&tray_, &TrayIcon::settingsRequested, this,
            [this] { withController([](auto& controller) { controller.showSettings(); }); });
    connect(&tray_, &TrayIcon::clickerDistributorRequested, this, [this] {
        withController([](auto& controller) { controller.showClickerDistributor(); });
    });
    connect(&tray_, &TrayIcon::checkForUpdatesRequested, this,
            [this] { withController([](auto& controller) { controller.checkForUpdates({}); }); });
    connect(&tray_, &TrayIcon::aboutRequested, this,
            [this] { withController([](auto& controller) { controller.showAbout(); }); });
    connect(&tray_, &TrayIcon::quitRequested, this,
            [this] { withController([](auto& controller) { controller.confirmQuit(); }); });

    waitForTray(std::chrono::steady_clock::now() + kTrayWaitLimit);
}

QtStatusBarView::~QtStatusBarView() {
    trayWait_.cancel();
}

void QtStatusBarView::setController(std::weak_ptr<StatusBarController> controller) {
    controller_ = std::move(controller);
}

void QtStatusBarView::waitForTray(std::chrono::steady_clock::time_point deadline) {
    if (statusItemRemoved_) {
        return;
    }
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        trayShown_ = true;
        tray_.show();
        return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
        presentWelcomeWindow();
        return;
    }
    trayWait_ =
        parts_.mainThread->postDelayed(kTrayPollInterval, [this, guard = QPointer(this), deadline] {
            if (guard) {
                waitForTray(deadline);
            }
        });
}

void QtStatusBarView::withController(const std::function<void(StatusBarController&)>& action) {
    if (const auto controller = controller_.lock()) {
        action(*controller);
    }
}

void QtStatusBarView::presentWelcomeWindow() {
    // The welcome window arrives with the windows; until then there is nothing to present.
}

void QtStatusBarView::setStatusLine(const StatusLine& line) {
    statusLine_ = line;
    tray_.setStatusLine(qtText(line.symbol), colorOf(line.color), qtText(line.text));
}

void QtStatusBarView::setToolTip(const std::string& toolTip) {
    tray_.setToolTip(qtText(toolTip));
}

void QtStatusBarView::setURLActionsEnabled(bool enabled) {
    tray_.setURLItemsEnabled(enabled);
}

void QtStatusBarView::removeStatusItem() {
    statusItemRemoved_ = true;
    trayWait_.cancel();
    trayShown_ = false;
    tray_.hide();
}

void QtStatusBarView::showCriticalAlert(const std::string& message,
                                        const std::string& informativeText,
                                        std::function<void()> dismissed) {
    Alert{.style = AlertStyle::critical,
          .message = qtText(message),
          .informativeText = qtText(informativeText)}
        .open([dismissed = std::move(dismissed)](int) {
            if (dismissed) {
                dismissed();
            }
        });
}

void QtStatusBarView::confirmQuit(std::function<void(bool quit)> completion) {
    Alert{.style = AlertStyle::warning,
          .message = QStringLiteral("Are you sure you want to quit Kelvra Hub?"),
          .informativeText = QStringLiteral("Kelvra Hub will stop running."),
          .buttons = {QStringLiteral("Quit"), QStringLiteral("Cancel")}}
        .open([completion = std::move(completion)](int response) {
            completion(response == Alert::kFirstButtonResponse);
        });
}

bool QtStatusBarView::writeClipboard(const std::string& text) {
    return Clipboard::copyPlainText(qtText(text));
}

void QtStatusBarView::openURL(const std::string& url, std::function<void(bool opened)> completion) {
    browser_.open(qtText(url), std::move(completion));
}

void QtStatusBarView::requestTermination() {
    parts_.requestTermination();
}

void QtStatusBarView::showServerURL(const std::optional<std::string>&) {}

void QtStatusBarView::showWelcomeWindow(bool) {}

void QtStatusBarView::showSettingsWindow(const std::optional<std::string>&) {}

void QtStatusBarView::reloadNetworkChoices() {}

void QtStatusBarView::showAboutWindow() {}

void QtStatusBarView::showClickerWindow(const ClickerDistributorState&, bool) {}

void QtStatusBarView::updateClickerState(const ClickerDistributorState&, bool) {}

void QtStatusBarView::clickerBackendRestarting() {}

void QtStatusBarView::setClickerListenerState(ClickerInputListenerState) {}

void QtStatusBarView::setClickerConflicts(const std::vector<ClickerKeystroke>&) {}

void QtStatusBarView::refreshClickerPermission() {}

void QtStatusBarView::clickerInputDetected(ClickerDirection) {}

}  // namespace kelvra
