// SPDX-License-Identifier: MIT
#include "server_config/HubServerConfigurationStore.h"

#include <vector>

namespace kelvra {
namespace {

constexpr std::string_view kLocalhostMode = "localhost";
constexpr std::string_view kServiceMode = "service";

HubNetworkSelection readSelection(const SettingsStore& settings) {
    const auto mode = settings.text(HubServerConfigurationStore::networkModeKey);
    if (mode == kLocalhostMode) {
        return HubNetworkSelection::localhost();
    }
    if (mode != kServiceMode) {
        return HubNetworkSelection::allNetworks();
    }
    auto id = settings.text(HubServerConfigurationStore::networkServiceIDKey);
    if (!id || id->empty()) {
        return HubNetworkSelection::allNetworks();
    }
    auto name = settings.text(HubServerConfigurationStore::networkServiceNameKey);
    if (!name) {
        name = *id;
    }
    return HubNetworkSelection::service(std::move(*id), std::move(*name));
}

}  // namespace

HubServerConfigurationStore::HubServerConfigurationStore(std::shared_ptr<SettingsStore> defaults)
    : defaults_(defaults ? std::move(defaults) : std::make_shared<InMemorySettingsStore>()) {}

HubServerConfiguration HubServerConfigurationStore::configuration() const {
    HubServerConfiguration configuration;
    // The input's lower bound of 1024 is deliberately not applied: a stored 80 stays 80.
    if (const auto port = HubServerPort::from(defaults_->integer(portKey))) {
        configuration.port = *port;
    }
    configuration.networkSelection = readSelection(*defaults_);
    return configuration;
}

std::expected<void, SettingsStoreError> HubServerConfigurationStore::setConfiguration(
    const HubServerConfiguration& configuration) {
    std::vector<SettingsChange> changes{{std::string(portKey), configuration.port.number()}};
    const auto set = [&](std::string_view key, std::string_view text) {
        changes.push_back({std::string(key), nlohmann::json(text)});
    };
    const auto remove = [&](std::string_view key) {
        changes.push_back({std::string(key), std::nullopt});
    };
    const HubNetworkSelection& selection = configuration.networkSelection;
    switch (selection.kind()) {
        case HubNetworkSelection::Kind::allNetworks:
            remove(networkModeKey);
            remove(networkServiceIDKey);
            remove(networkServiceNameKey);
            break;
        case HubNetworkSelection::Kind::localhost:
            set(networkModeKey, kLocalhostMode);
            remove(networkServiceIDKey);
            remove(networkServiceNameKey);
            break;
        case HubNetworkSelection::Kind::service:
            set(networkModeKey, kServiceMode);
            set(networkServiceIDKey, selection.id());
            set(networkServiceNameKey, selection.lastKnownName());
            break;
    }
    return defaults_->apply(changes);
}

}  // namespace kelvra
