// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <functional>
#include <string>

#include "backend/BackendSupervising.h"
#include "core/Error.h"
#include "server_config/HubServerConfiguration.h"
#include "shell/updates/UpdateChecking.h"
#include "tray/SettingsService.h"
#include "tray/StatusBarView.h"

namespace kelvra {

/// What the person does in the tray menu and the windows, as the view hands it on. The view
/// decides nothing itself: every choice, store and alert is the receiver's. Main thread only.
class StatusBarActions {
public:
    virtual ~StatusBarActions() = default;

    // The menu.
    virtual void openKelvra() = 0;
    virtual void copyURL() = 0;
    virtual void showSettings() = 0;
    virtual void showClickerDistributor() = 0;
    virtual void showAbout() = 0;
    virtual void checkForUpdates(UpdateCheckSender sender) = 0;
    virtual void confirmQuit() = 0;
    /// One of our windows gained focus.
    virtual void applicationDidBecomeActive() = 0;
    /// A link in a window; an alert says so when no browser takes it.
    virtual void openPage(const std::string& url) = 0;

    // The settings and welcome windows.
    /// Applies and, once it runs, stores a server configuration the person chose.
    virtual void applyServerSettings(const HubServerConfiguration& configuration,
                                     std::function<void(ServerSettingsApplyResult)> completion) = 0;
    virtual StartupOptions startupOptions() = 0;
    virtual std::expected<void, Error> setShowWelcomeWindow(bool show) = 0;
    virtual std::expected<LaunchAtLoginState, Error> setLaunchAtLogin(bool enabled) = 0;

    // The Clicker Distributor window.
    virtual void setClickerDistributorEnabled(bool enabled,
                                              BackendSupervising::UpdateCompletion completion) = 0;
    /// Stores an edited configuration; answers what is now in effect.
    virtual StoredClickerConfiguration commitClickerConfiguration(
        const ClickerInputConfiguration& configuration) = 0;
    virtual void clickerTestDemandChanged(bool required) = 0;
    virtual void clickerRecordingChanged(bool recording) = 0;
    virtual void clickerPermissionChanged(bool granted) = 0;
};

}  // namespace kelvra
