// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

#include "core/BackendServerBinding.h"
#include "server_config/HubNetworkService.h"
#include "server_config/HubServerConfiguration.h"

namespace kelvra {

/// A configuration turned into what the backend is started with.
struct ResolvedHubServerConfiguration {
    BackendServerBinding binding;
    /// False only when a specific service was chosen and cannot be used now.
    bool selectedServiceAvailable = true;
    /// The network in effect, as the user is shown it.
    std::string effectiveDisplayTitle;

    friend bool operator==(const ResolvedHubServerConfiguration&,
                           const ResolvedHubServerConfiguration&) = default;
};

namespace HubServerConfigurationResolver {

/// Pure: reads nothing but its arguments. The port is copied unchecked. `availableServices` is
/// taken in the order given; a chosen service that is missing or has no address binds to the
/// loopback address only, never to all networks.
ResolvedHubServerConfiguration resolve(const HubServerConfiguration& configuration,
                                       const std::vector<HubNetworkService>& availableServices);

}  // namespace HubServerConfigurationResolver
}  // namespace kelvra
