// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <memory>
#include <optional>
#include <string>

#include "clicker/ClickerInputConfigurationStore.h"
#include "core/Error.h"
#include "server_config/HubServerConfigurationStore.h"
#include "shell/WelcomeWindowPreference.h"
#include "shell/login_item/LaunchAtLoginPreference.h"

namespace kelvra {

/// The two startup options as they are in effect.
struct StartupOptions {
    bool showWelcomeWindow = true;
    LaunchAtLoginState launchAtLogin = LaunchAtLoginState::disabled;

    friend bool operator==(const StartupOptions&, const StartupOptions&) = default;
};

/// A clicker configuration after a commit: what is in effect, and the store's reason when it
/// could not be saved (it then holds until the process ends).
struct StoredClickerConfiguration {
    ClickerInputConfiguration configuration;
    std::optional<std::string> notSavedReason;
};

/// The one place the user's settings are read and written: the server configuration (stored
/// by the controller once it runs), the startup options and the clicker assignments. Windows
/// never reach a store; they show what this answers. Main thread only.
class SettingsService {
public:
    SettingsService(std::shared_ptr<HubServerConfigurationStore> serverConfigurationStore,
                    std::shared_ptr<WelcomeWindowPreference> welcomePreference,
                    std::shared_ptr<LaunchAtLoginPreference> launchAtLoginPreference,
                    std::shared_ptr<ClickerInputConfigurationStore> clickerConfigurationStore);

    HubServerConfiguration serverConfiguration() const;
    std::expected<void, SettingsStoreError> storeServerConfiguration(
        const HubServerConfiguration& configuration);

    StartupOptions startupOptions() const;
    /// A choice that cannot be saved is taken back, so the preference and the file agree.
    std::expected<void, Error> setShowWelcomeWindow(bool show);
    /// The state now in effect, or why the login item or the choice could not be changed.
    std::expected<LaunchAtLoginState, Error> setLaunchAtLogin(bool enabled);
    /// Applies the first-run default of run at login.
    std::expected<void, Error> applyLaunchAtLoginDefault();

    ClickerInputConfiguration clickerConfiguration() const;
    StoredClickerConfiguration storeClickerConfiguration(
        const ClickerInputConfiguration& configuration);

private:
    const std::shared_ptr<HubServerConfigurationStore> serverConfigurationStore_;
    const std::shared_ptr<WelcomeWindowPreference> welcomePreference_;
    const std::shared_ptr<LaunchAtLoginPreference> launchAtLoginPreference_;
    const std::shared_ptr<ClickerInputConfigurationStore> clickerConfigurationStore_;
};

}  // namespace kelvra
