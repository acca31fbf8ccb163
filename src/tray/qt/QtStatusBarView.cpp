// SPDX-License-Identifier: MIT
#include "tray/qt/QtStatusBarView.h"

#include <QApplication>
#include <QMessageBox>
#include <QPalette>
#include <QWindow>

#include "desktop/Alert.h"
#include "desktop/Clipboard.h"
#include "windows/widgets/ThemeColors.h"

namespace kelvra {
namespace {

QColor colorOf(StatusColor color) {
    const QPalette palette = QApplication::palette();
    switch (color) {
        case StatusColor::secondary:
            return ThemeColors::color(ThemeColors::Role::secondaryLabel, palette);
        case StatusColor::green:
            return ThemeColors::color(ThemeColors::Role::green, palette);
        case StatusColor::red:
            return ThemeColors::color(ThemeColors::Role::red, palette);
    }
    return {};
}

QString qtText(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

QtStatusBarView::QtStatusBarView(std::shared_ptr<MainThreadExecutor> mainThread, QObject* parent)
    : QObject(parent) {
    tray_.show();
    bool shortened = false;
    const int waitSeconds =
        qEnvironmentVariableIntValue("KELVRA_HUB_TRAY_WAIT_SECONDS", &shortened);
    const auto waitLimit =
        shortened && waitSeconds >= 0 ? std::chrono::seconds(waitSeconds) : kTrayWaitLimit;
    trayWait_ = mainThread->postDelayed(waitLimit, [this, guard = QPointer(this)] {
        if (guard && !statusItemRemoved_ && !tray_.isDocked()) {
            emit trayMissing();
        }
    });
}

QtStatusBarView::~QtStatusBarView() {
    trayWait_.cancel();
}

void QtStatusBarView::setStatusLine(const StatusLine& line) {
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
    tray_.hide();
}

void QtStatusBarView::showCriticalAlert(const std::string& message,
                                        const std::string& informativeText,
                                        std::function<void()> dismissed) {
    std::erase_if(criticalAlerts_, [](const QPointer<QMessageBox>& alert) { return !alert; });
    criticalAlerts_.emplace_back(Alert{.style = AlertStyle::critical,
                                       .message = qtText(message),
                                       .informativeText = qtText(informativeText)}
                                     .open([dismissed = std::move(dismissed)](int) {
                                         if (dismissed) {
                                             dismissed();
                                         }
                                     }));
}

void QtStatusBarView::raiseCriticalAlerts() {
    for (const QPointer<QMessageBox>& alert : criticalAlerts_) {
        if (alert) {
            bringToFront(*alert);
        }
    }
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

void bringToFront(QWidget& window) {
    // A window minimized or unmapped by the desktop still counts as visible to Qt.
    if (window.isVisible() && window.windowHandle() != nullptr &&
        !window.windowHandle()->isExposed()) {
        window.hide();
    }
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace kelvra
