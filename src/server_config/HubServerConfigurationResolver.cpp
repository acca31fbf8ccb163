// SPDX-License-Identifier: MIT
#include "server_config/HubServerConfigurationResolver.h"

#include <algorithm>
#include <string_view>

namespace kelvra::HubServerConfigurationResolver {
namespace {

constexpr std::string_view kLoopback = "127.0.0.1";
constexpr std::string_view kAnyAddress = "0.0.0.0";
}  // namespace

BackendServerBinding resolve(const HubServerConfiguration& configuration,
                             const std::vector<HubNetworkService>& availableServices) {
    BackendServerBinding binding;
    binding.port = configuration.port.number();
    const HubNetworkSelection& selection = configuration.networkSelection;
    switch (selection.kind()) {
        case HubNetworkSelection::Kind::localhost:
            binding.bindHost = kLoopback;
            binding.urlHost = kLoopback;
            break;
        case HubNetworkSelection::Kind::allNetworks: {
            // Listening stays on every interface; only the address shown is picked.
            const auto withAddress = std::ranges::find_if(
                availableServices,
                [](const auto& service) { return !service.ipv4Addresses.empty(); });
            binding.bindHost = kAnyAddress;
            binding.urlHost = withAddress == availableServices.end()
                                  ? std::string(kLoopback)
                                  : withAddress->ipv4Addresses.front();
            break;
        }
        case HubNetworkSelection::Kind::service: {
            const auto match =
                std::ranges::find(availableServices, selection.id(), &HubNetworkService::id);
            if (match != availableServices.end() && !match->ipv4Addresses.empty()) {
                binding.bindHost = match->ipv4Addresses.front();
                binding.urlHost = match->ipv4Addresses.front();
            } else {
                binding.bindHost = kLoopback;
                binding.urlHost = kLoopback;
            }
            break;
        }
    }
    return binding;
}

}  // namespace kelvra::HubServerConfigurationResolver
