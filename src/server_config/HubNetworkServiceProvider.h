// SPDX-License-Identifier: MIT
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "server_config/HubNetworkService.h"
#include "server_config/NetworkServiceSource.h"

namespace kelvra {

/// Lists the network services the server can be bound to. Keeps no state of its own; every
/// call reads the source afresh, on the caller's thread.
class HubNetworkServiceProvider {
public:
    explicit HubNetworkServiceProvider(std::shared_ptr<const NetworkServiceSource> source);

    /// Enabled services with an interface, a short name, an identifier and at least one
    /// active IPv4 address, sorted by name (localized, ignoring case), then by identifier.
    /// Named after the service, else its interface's display name, else the short name.
    /// Never fails: what cannot be read is left out. Texts are valid UTF-8.
    std::vector<HubNetworkService> availableServices() const;

    /// The numeric IPv4 addresses of each interface that is up, running and not loopback,
    /// without duplicates, ascending by character code.
    std::map<std::string, std::vector<std::string>> activeIPv4AddressesByInterface() const;

private:
    std::shared_ptr<const NetworkServiceSource> source_;
};

}  // namespace kelvra
