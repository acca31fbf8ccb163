// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace kelvra {

/// One entry of the system's interface-address list, as `getifaddrs` gives it.
struct InterfaceAddressEntry {
    std::string interfaceName;
    /// The interface's IFF_* flags.
    unsigned int flags = 0;
    /// Absent when the entry carries no address. IPv4 and IPv6 addresses are complete; of
    /// other families only the family is kept.
    std::optional<sockaddr_storage> address;
};

/// The interface a network service runs over.
struct NetworkServiceInterface {
    /// The kernel's short name, such as enp3s0; what the address list is keyed by.
    std::optional<std::string> shortName;
    std::optional<std::string> displayName;
};

/// A configured network service, before the rules of which ones can be chosen are applied.
struct NetworkServiceDescription {
    bool enabled = false;
    std::optional<NetworkServiceInterface> networkInterface;
    std::optional<std::string> id;
    std::optional<std::string> name;
};

/// Where the network services and the interface addresses come from; tests give their own.
class NetworkServiceSource {
public:
    virtual ~NetworkServiceSource() = default;

    /// The interface-address list; absent when it cannot be read.
    virtual std::optional<std::vector<InterfaceAddressEntry>> interfaceAddresses() const = 0;

    /// The configured services in a stable order; absent when they cannot be read.
    virtual std::optional<std::vector<NetworkServiceDescription>> services() const = 0;
};

/// The running system's services: on Linux one per kernel network interface, identified and
/// named after it.
std::shared_ptr<NetworkServiceSource> makeSystemNetworkServiceSource();

}  // namespace kelvra
