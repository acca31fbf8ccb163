// SPDX-License-Identifier: MIT
#include "tray/SettingsService.h"

namespace kelvra {

SettingsService::SettingsService(
    std::shared_ptr<HubServerConfigurationStore> serverConfigurationStore,
    std::shared_ptr<WelcomeWindowPreference> welcomePreference,
    std::shared_ptr<LaunchAtLoginPreference> launchAtLoginPreference,
    std::shared_ptr<ClickerInputConfigurationStore> clickerConfigurationStore)
    : serverConfigurationStore_(std::move(serverConfigurationStore)),
      welcomePreference_(std::move(welcomePreference)),
      launchAtLoginPreference_(std::move(launchAtLoginPreference)),
      clickerConfigurationStore_(std::move(clickerConfigurationStore)) {}

HubServerConfiguration SettingsService::serverConfiguration() const {
    return serverConfigurationStore_->configuration();
}

std::expected<void, SettingsStoreError> SettingsService::storeServerConfiguration(
    const HubServerConfiguration& configuration) {
    return serverConfigurationStore_->setConfiguration(configuration);
}

StartupOptions SettingsService::startupOptions() const {
    return {.showWelcomeWindow = welcomePreference_->shouldShowAtStartup(),
            .launchAtLogin = launchAtLoginPreference_->state()};
}

std::expected<void, Error> SettingsService::setShowWelcomeWindow(bool show) {
    auto stored = welcomePreference_->setShouldShowAtStartup(show);
    if (!stored) {
        // A failed save still changes what the settings answer; put the old choice back.
        (void)welcomePreference_->setShouldShowAtStartup(!show);
        return std::unexpected(Error(stored.error()));
    }
    return {};
}

std::expected<LaunchAtLoginState, Error> SettingsService::setLaunchAtLogin(bool enabled) {
    auto result = launchAtLoginPreference_->setEnabled(enabled);
    if (!result) {
        return std::unexpected(Error(result.error()));
    }
    return *result;
}

std::expected<void, Error> SettingsService::applyLaunchAtLoginDefault() {
    if (auto applied = launchAtLoginPreference_->applyDefaultIfNeeded(); !applied) {
        return std::unexpected(Error(applied.error()));
    }
    return {};
}

ClickerInputConfiguration SettingsService::clickerConfiguration() const {
    return clickerConfigurationStore_->configuration();
}

StoredClickerConfiguration SettingsService::storeClickerConfiguration(
    const ClickerInputConfiguration& configuration) {
    StoredClickerConfiguration result;
    if (auto written = clickerConfigurationStore_->setConfiguration(configuration); !written) {
        result.notSavedReason = written.error().description();
    }
    // What the store answers is what the listener uses, saved or not.
    result.configuration = clickerConfigurationStore_->configuration();
    return result;
}

}  // namespace kelvra
