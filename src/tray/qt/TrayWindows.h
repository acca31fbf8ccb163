// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

#include <QObject>

#include "core/MainThreadExecutor.h"
#include "server_config/HubNetworkServiceProvider.h"
#include "server_config/ServerStatus.h"
#include "shell/login_item/LoginItemService.h"
#include "shell/updates/AppVersionInfo.h"
#include "tray/SettingsService.h"
#include "tray/StatusBarController.h"
#include "tray/qt/TrayIcon.h"

namespace kelvra {

class AboutWindow;
class ClickerDistributorWindow;
class SettingsWindow;
class WelcomeWindow;

/// The four windows, each created on first use and wired straight to what it shows and changes:
/// the controller's server status and apply, the settings service, the Clicker Distributor's
/// model. Main thread only; the controller is held weakly.
class TrayWindows final : public QObject {
    Q_OBJECT

public:
    struct Dependencies {
        std::shared_ptr<MainThreadExecutor> mainThread;
        AppVersionInfo versionInfo;
        /// Opens the desktop's Startup Applications settings.
        std::shared_ptr<LoginItemService> loginItems;
        std::shared_ptr<const HubNetworkServiceProvider> networkServiceProvider;
        std::shared_ptr<SettingsService> settings;
        std::weak_ptr<StatusBarController> controller;
        /// Gives every window the menu's shortcuts; its menu stands in under the welcome window.
        TrayIcon* tray = nullptr;
    };

    /// Follows the controller's server status and network changes from now on.
    explicit TrayWindows(Dependencies dependencies, QObject* parent = nullptr);
    ~TrayWindows() override;

    /// The welcome window in front, created if needed; also the stand-in for a missing tray.
    void showWelcome();
    void showSettings();
    void showAbout();
    void showClickerDistributor();

    /// The settings window, once it exists.
    SettingsWindow* settingsWindow() const { return settings_.get(); }

private:
    WelcomeWindow& welcomeWindow();
    SettingsWindow& settingsWindowCreated();
    std::expected<void, Error> setShowWelcomeWindow(bool show);
    void showServerStatus(const ServerStatus& status);
    /// `work(controller)` while the controller lives.
    template <typename Work>
    void withController(Work work) const {
        if (const auto controller = dependencies_.controller.lock()) {
            work(*controller);
        }
    }

    const Dependencies dependencies_;
    ServerStatus serverStatus_ = ServerStatus::starting();
    std::unique_ptr<WelcomeWindow> welcome_;
    std::unique_ptr<SettingsWindow> settings_;
    std::unique_ptr<AboutWindow> about_;
    std::unique_ptr<ClickerDistributorWindow> clickerDistributor_;
};

}  // namespace kelvra
