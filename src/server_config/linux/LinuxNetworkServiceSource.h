// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "server_config/NetworkServiceSource.h"

namespace kelvra {

/// Every kernel network interface of the caller's network namespace is a service, in
/// interface-index order: enabled, identified by its name, named after its kind as sysfs shows
/// it. Whether it can be chosen (up, running, not loopback, an IPv4 address) is left to the
/// provider's rules over the address list.
class LinuxNetworkServiceSource final : public NetworkServiceSource {
public:
    /// `classNetDirectory` is where sysfs lists the interfaces; tests point it elsewhere.
    explicit LinuxNetworkServiceSource(std::filesystem::path classNetDirectory = "/sys/class/net");

    std::optional<std::vector<InterfaceAddressEntry>> interfaceAddresses() const override;
    std::optional<std::vector<NetworkServiceDescription>> services() const override;

    /// "Wi-Fi (<name>)" for a wireless interface, "Ethernet (<name>)" for a wired one on a
    /// device of its own, and the name alone for every other kind (virtual pairs, bridges,
    /// tunnels, loopback) and when sysfs does not know the interface.
    static std::string interfaceLabel(const std::filesystem::path& classNetDirectory,
                                      std::string_view interfaceName);

private:
    const std::filesystem::path classNetDirectory_;
};

}  // namespace kelvra
