// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server_config/HubNetworkService.h"
#include "server_config/HubServerConfiguration.h"
#include "server_config/HubServerPortInputValidator.h"

namespace kelvra::HubServerPortAvailabilityChecker {

/// Tries to bind a TCP socket to `port` on `bindHost` (a dotted IPv4 address: "0.0.0.0",
/// "127.0.0.1" or a service's address) and lets it go at once. Absent when the bind worked,
/// otherwise the message for the user. Never listens, so the port is free again on return.
std::optional<std::string> errorMessage(HubServerPort port, const std::string& bindHost);

/// The typed port as it is about to be applied: validated against `configuration`'s port, and a
/// valid one tried on the address `configuration` listens on among `availableServices`; a port
/// that cannot be bound there is `invalid` with the reason. Binds a socket, so it runs when the
/// person applies, not while they type.
HubServerPortInputValidation validateForApply(
    std::string_view text, const HubServerConfiguration& configuration,
    const std::vector<HubNetworkService>& availableServices);

}  // namespace kelvra::HubServerPortAvailabilityChecker
