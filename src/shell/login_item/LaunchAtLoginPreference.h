// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <memory>
#include <variant>

#include "core/SettingsStore.h"
#include "shell/login_item/LoginItemService.h"

namespace kelvra {

/// The run-at-login state as the settings window shows it.
enum class LaunchAtLoginState { enabled, requiresApproval, disabled };

/// Registers the application at login once by default, on the first run, and afterwards follows
/// the user's explicit choice. Logs nothing itself.
class LaunchAtLoginPreference {
public:
    /// The settings key recording that the first-run default has been applied or replaced by a
    /// choice of the user's.
    static constexpr const char* kDefaultAppliedKey = "launchAtLoginDefaultApplied";

    /// A failure of the login item, or of recording the choice in the settings (then the login
    /// item is left as it was).
    using Failure = std::variant<LoginItemError, SettingsStoreError>;

    LaunchAtLoginPreference(std::shared_ptr<LoginItemService> service,
                            std::shared_ptr<SettingsStore> defaults);

    /// Registers the item unless the default was applied before or the item already exists;
    /// records first, so a failed registration is not retried on later starts.
    std::expected<void, Failure> applyDefaultIfNeeded();

    /// The user's choice; asks the desktop's settings to allow an item it has switched off.
    std::expected<LaunchAtLoginState, Failure> setEnabled(bool enabled);

    /// The current state, changing nothing.
    LaunchAtLoginState state() const;

    /// `status` as a state: not registered and not found both read as disabled.
    static LaunchAtLoginState stateFor(LoginItemStatus status);

private:
    const std::shared_ptr<LoginItemService> service_;
    std::shared_ptr<SettingsStore> defaults_;
};

}  // namespace kelvra
