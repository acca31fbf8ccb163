// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <memory>
#include <string_view>

#include "core/SettingsStore.h"
#include "server_config/HubServerConfiguration.h"

namespace kelvra {

/// Keeps the server configuration in the per-user settings. Nothing is cached: every read
/// decodes the stored values afresh, so two stores over the same settings always agree.
///
/// Stored form (shared with other versions of the application, so it must not change):
/// - "hubServerPort": integer, always written.
/// - "hubServerNetworkMode": "localhost" or "service"; absent for all networks.
/// - "hubServerNetworkServiceID", "hubServerNetworkServiceName": texts, only in "service" mode.
class HubServerConfigurationStore {
public:
    static constexpr std::string_view portKey = "hubServerPort";
    static constexpr std::string_view networkModeKey = "hubServerNetworkMode";
    static constexpr std::string_view networkServiceIDKey = "hubServerNetworkServiceID";
    static constexpr std::string_view networkServiceNameKey = "hubServerNetworkServiceName";

    /// Over `defaults`; without one, over a fresh, empty in-memory store of its own.
    explicit HubServerConfigurationStore(std::shared_ptr<SettingsStore> defaults);

    const std::shared_ptr<SettingsStore>& defaults() const { return defaults_; }

    /// The stored configuration. Never fails: a port outside 1 through 65535 or not stored as
    /// an integer reads as the default port, and a mode or service that cannot be read as
    /// all networks.
    HubServerConfiguration configuration() const;

    /// Stores `configuration` as it is (no range check) in one update of the settings, so a
    /// reader never sees a mode without its service. Only a failure to save is reported; the
    /// settings then answer the new values until the process ends.
    std::expected<void, SettingsStoreError> setConfiguration(
        const HubServerConfiguration& configuration);

private:
    std::shared_ptr<SettingsStore> defaults_;
};

}  // namespace kelvra
