// SPDX-License-Identifier: MIT
#include "server_config/HubServerConfigurationResolver.h"

#include <algorithm>

namespace kelvra::HubServerConfigurationResolver {
namespace {

constexpr std::string_view kLoopback = "127.0.0.1";
constexpr std::string_view kAnyAddress = "0.0.0.0";
constexpr std::string_view kEmDashSeparator = " \u2014 ";

std::string joined(const std::vector<std::string>& texts, std::string_view separator) {
    std::string result;
    for (const auto& text : texts) {
        if (!result.empty()) {
            result += separator;
        }
        result += text;
    }
    return result;
}

}  // namespace

ResolvedHubServerConfiguration resolve(const HubServerConfiguration& configuration,
                                       const std::vector<HubNetworkService>& availableServices) {
    ResolvedHubServerConfiguration resolved;
    resolved.binding.port = configuration.port;
    const HubNetworkSelection& selection = configuration.networkSelection;
    switch (selection.kind()) {
        case HubNetworkSelection::Kind::localhost:
            resolved.binding.bindHost = kLoopback;
            resolved.binding.urlHost = kLoopback;
            resolved.effectiveDisplayTitle = "Localhost only (this computer)";
            break;
        case HubNetworkSelection::Kind::allNetworks: {
            // Listening stays on every interface; only the address shown is picked.
            const auto withAddress = std::ranges::find_if(
                availableServices,
                [](const auto& service) { return !service.ipv4Addresses.empty(); });
            resolved.binding.bindHost = kAnyAddress;
            resolved.binding.urlHost = withAddress == availableServices.end()
                                           ? std::string(kLoopback)
                                           : withAddress->ipv4Addresses.front();
            resolved.effectiveDisplayTitle = "All networks";
            break;
        }
        case HubNetworkSelection::Kind::service: {
            const auto match =
                std::ranges::find(availableServices, selection.id(), &HubNetworkService::id);
            if (match != availableServices.end() && !match->ipv4Addresses.empty()) {
                resolved.binding.bindHost = match->ipv4Addresses.front();
                resolved.binding.urlHost = match->ipv4Addresses.front();
                resolved.effectiveDisplayTitle = match->name + std::string(kEmDashSeparator) +
                                                 joined(match->ipv4Addresses, ", ");
            } else {
                resolved.binding.bindHost = kLoopback;
                resolved.binding.urlHost = kLoopback;
                resolved.selectedServiceAvailable = false;
                resolved.effectiveDisplayTitle =
                    selection.lastKnownName() + " (unavailable \u2014 localhost only)";
            }
            break;
        }
    }
    return resolved;
}

}  // namespace kelvra::HubServerConfigurationResolver
