// SPDX-License-Identifier: MIT
#pragma once

#include <vector>

#include "core/BackendServerBinding.h"
#include "server_config/HubNetworkService.h"
#include "server_config/HubServerConfiguration.h"

namespace kelvra {

namespace HubServerConfigurationResolver {

/// The configuration turned into what the backend is started with. Pure: reads nothing but its
/// arguments. `availableServices` is taken in the order given; a chosen service that is missing
/// or has no address binds to the loopback address only, never to all networks.
BackendServerBinding resolve(const HubServerConfiguration& configuration,
                             const std::vector<HubNetworkService>& availableServices);

}  // namespace HubServerConfigurationResolver
}  // namespace kelvra
