// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QIcon>

#include "core/Error.h"
#include "server_config/ServerStatus.h"
#include "shell/updates/AppVersionInfo.h"
#include "windows/widgets/AppWindow.h"

class QAbstractButton;
class QCheckBox;
class QLabel;
class QPushButton;

namespace kelvra {

class StatusDot;

/// The welcome window: what Kelvra Hub does, where the control page is once the server is
/// ready, and where the tray icon lives. It starts and stores nothing itself; every action goes
/// through a callback. Kept for reuse when closed. Main thread only.
class WelcomeWindow final : public AppWindow {
    Q_OBJECT

public:
    struct Callbacks {
        std::function<void()> onOpenControlPage;
        std::function<void()> onOpenSettings;
        std::function<void()> onOpenClickerDistributor;
        /// Pops the tray menu up below `anchor`, the "Show menu" button.
        std::function<void(QWidget* anchor)> onShowMenu;
        /// Stores whether the window opens at startup; on failure the previous choice holds.
        std::function<std::expected<void, Error>(bool show)> setShowAtStartup;
    };

    /// `statusIcon` is the tray's image; without one the application icon is shown.
    WelcomeWindow(const AppVersionInfo& versionInfo, const QIcon& statusIcon, Callbacks callbacks,
                  QWidget* parent = nullptr);

    /// The control page's address once the server is ready; the waiting text otherwise.
    void showServerStatus(const ServerStatus& status);
    /// "Don’t show this again": checked when the window is not wanted at startup.
    void showDontShowAgain(bool checked);

protected:
    void changeEvent(QEvent* event) override;

private:
    QWidget* makeHintView();
    QWidget* makeFooterView();
    void dontShowAgainChanged(bool checked);
    void tintOpenButtonSymbol();

    const Callbacks callbacks_;

    QLabel* serverStatusLabel_ = nullptr;
    StatusDot* statusIndicator_ = nullptr;
    QPushButton* openButton_ = nullptr;
    QAbstractButton* changeButton_ = nullptr;
    QAbstractButton* showMenuButton_ = nullptr;
    QCheckBox* dontShowAgainCheckbox_ = nullptr;
};

}  // namespace kelvra
