// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

namespace kelvra {

/// A network the server can be bound to, with the IPv4 addresses it has right now.
struct HubNetworkService {
    /// Stable identifier; what a service selection stores. On Linux the interface name.
    std::string id;
    std::string name;
    /// The kernel's short name of the interface, such as enp3s0.
    std::string interfaceName;
    /// Dotted quads, without duplicates, ascending by character code; never empty in lists
    /// from `HubNetworkServiceProvider`.
    std::vector<std::string> ipv4Addresses;

    friend bool operator==(const HubNetworkService&, const HubNetworkService&) = default;
};

}  // namespace kelvra
