// SPDX-License-Identifier: MIT
#include "tray/qt/TrayWindows.h"

#include <QPointer>

#include "server_config/ServerConfigurationError.h"
#include "tray/qt/QtStatusBarView.h"
#include "windows/AboutWindow.h"
#include "windows/ClickerDistributorWindow.h"
#include "windows/SettingsWindow.h"
#include "windows/WelcomeWindow.h"

namespace kelvra {

TrayWindows::TrayWindows(Dependencies dependencies, QObject* parent)
    : QObject(parent), dependencies_(std::move(dependencies)) {
    withController([this](StatusBarController& controller) {
        const QPointer<TrayWindows> self(this);
        controller.setWindowLinks({
            .serverStatus =
                [self](const ServerStatus& status) {
                    if (self) {
                        self->showServerStatus(status);
                    }
                },
            .networksChanged =
                [self] {
                    if (self && self->settings_) {
                        self->settings_->reloadNetworkPopup();
                    }
                },
            .welcomeWanted =
                [self] {
                    if (self) {
                        self->showWelcome();
                    }
                },
            .raiseClickerWindow =
                [self] {
                    if (self && self->clickerDistributor_) {
                        self->clickerDistributor_->raise();
                        self->clickerDistributor_->activateWindow();
                    }
                },
        });
    });
}

TrayWindows::~TrayWindows() {
    withController([](StatusBarController& controller) { controller.setWindowLinks({}); });
}

void TrayWindows::showServerStatus(const ServerStatus& status) {
    serverStatus_ = status;
    if (welcome_) {
        welcome_->showServerStatus(status);
    }
    if (settings_) {
        settings_->showServerStatus(status);
    }
}

void TrayWindows::showWelcome() {
    bringToFront(welcomeWindow());
}

WelcomeWindow& TrayWindows::welcomeWindow() {
    if (!welcome_) {
        welcome_ = std::make_unique<WelcomeWindow>(
            dependencies_.versionInfo, statusIcon(),
            WelcomeWindow::Callbacks{
                .onOpenControlPage =
                    [this] { withController([](auto& controller) { controller.openKelvra(); }); },
                .onOpenSettings = [this] { showSettings(); },
                .onOpenClickerDistributor = [this] { showClickerDistributor(); },
                .onShowMenu =
                    [tray = dependencies_.tray](QWidget* anchor) { tray->popUpMenuBelow(anchor); },
                .setShowAtStartup = [this](bool show) { return setShowWelcomeWindow(show); },
            });
        welcome_->showDontShowAgain(!dependencies_.settings->startupOptions().showWelcomeWindow);
        welcome_->showServerStatus(serverStatus_);
        dependencies_.tray->installShortcuts(welcome_.get());
    }
    return *welcome_;
}

std::expected<void, Error> TrayWindows::setShowWelcomeWindow(bool show) {
    auto stored = dependencies_.settings->setShowWelcomeWindow(show);
    // One setting with a checkbox in each window: both show it at once.
    if (stored && welcome_) {
        welcome_->showDontShowAgain(!show);
    }
    if (stored && settings_) {
        settings_->showWelcomeWindowChoice(show);
    }
    return stored;
}

void TrayWindows::showSettings() {
    SettingsWindow& window = settingsWindowCreated();
    window.present(dependencies_.settings->serverConfiguration(),
                   dependencies_.settings->startupOptions().showWelcomeWindow);
    bringToFront(window);
}

SettingsWindow& TrayWindows::settingsWindowCreated() {
    if (!settings_) {
        const auto settings = dependencies_.settings;
        settings_ = std::make_unique<SettingsWindow>(
            dependencies_.networkServiceProvider, dependencies_.mainThread,
            SettingsWindow::Callbacks{
                .server = {
                    .applyConfiguration =
                        [controller = dependencies_.controller](
                            const HubServerConfiguration& configuration,
                            std::function<void(ServerSettingsApplyResult)> completion) {
                            const auto strong = controller.lock();
                            if (!strong) {
                                completion(
                                    std::unexpected(ServerConfigurationError::appIsClosing()));
                                return;
                            }
                            strong->applyServerSettings(configuration, std::move(completion));
                        },
                    .copyURL =
                        [this] { withController([](auto& controller) { controller.copyURL(); }); },
                },
                .startupOptions = {
                    .setLaunchAtLogin =
                        [settings](bool enabled) { return settings->setLaunchAtLogin(enabled); },
                    .setShowWelcomeWindow =
                        [this](bool show) { return setShowWelcomeWindow(show); },
                    .launchAtLoginState =
                        [settings] { return settings->startupOptions().launchAtLogin; },
                    .openLoginItemsSettings =
                        [loginItems = dependencies_.loginItems] {
                            loginItems->openSystemSettingsLoginItems();
                        },
                },
            });
        settings_->showServerStatus(serverStatus_);
        dependencies_.tray->installShortcuts(settings_.get());
    }
    return *settings_;
}

void TrayWindows::showAbout() {
    if (!about_) {
        about_ = std::make_unique<AboutWindow>(
            dependencies_.versionInfo, statusIcon(), [this](const QUrl& url) {
                withController(
                    [&](auto& controller) { controller.openPage(url.toString().toStdString()); });
            });
        dependencies_.tray->installShortcuts(about_.get());
    }
    bringToFront(*about_);
}

void TrayWindows::showClickerDistributor() {
    const auto controller = dependencies_.controller.lock();
    if (!controller) {
        return;
    }
    if (!clickerDistributor_) {
        clickerDistributor_ =
            std::make_unique<ClickerDistributorWindow>(controller->clickerModel());
        dependencies_.tray->installShortcuts(clickerDistributor_.get());
    }
    controller->clickerModel().present();
    bringToFront(*clickerDistributor_);
}

}  // namespace kelvra
