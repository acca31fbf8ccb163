// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <optional>
#include <string>

#include "server_config/HubServerConfiguration.h"
#include "server_config/ServerConfigurationError.h"

namespace kelvra {

/// Server settings that run: the configuration and the control page's address on it.
/// `notSavedReason` holds the settings store's reason when they run but could not be stored, so
/// they will not survive a restart.
struct ServerSettingsApplied {
    HubServerConfiguration configuration;
    std::string url;
    std::optional<std::string> notSavedReason;

    friend bool operator==(const ServerSettingsApplied&, const ServerSettingsApplied&) = default;
};
using ServerSettingsApplyResult = std::expected<ServerSettingsApplied, ServerConfigurationError>;

}  // namespace kelvra
