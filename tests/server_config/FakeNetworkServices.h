// SPDX-License-Identifier: MIT
#pragma once

#include <arpa/inet.h>
#include <functional>
#include <net/if.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <utility>
#include <vector>

#include "server_config/NetworkChangeSource.h"
#include "server_config/NetworkServiceSource.h"

namespace kelvra::testing {

/// An interface's address entry; IPv6 when the text has a colon.
inline InterfaceAddressEntry interfaceAddress(std::string interfaceName, const std::string& address,
                                              unsigned int flags = IFF_UP | IFF_RUNNING) {
    sockaddr_storage storage{};
    storage.ss_family = address.find(':') != std::string::npos ? AF_INET6 : AF_INET;
    void* bytes = storage.ss_family == AF_INET6
                      ? static_cast<void*>(&reinterpret_cast<sockaddr_in6*>(&storage)->sin6_addr)
                      : &reinterpret_cast<sockaddr_in*>(&storage)->sin_addr;
    ::inet_pton(storage.ss_family, address.c_str(), bytes);
    return {std::move(interfaceName), flags, storage};
}

/// Ethernet interfaces that are up, each with the IPv4 address the test gives.
class FakeNetworkServices final : public NetworkServiceSource {
public:
    std::vector<std::pair<std::string, std::string>> interfaces;  ///< name, address

    std::optional<std::vector<InterfaceAddressEntry>> interfaceAddresses() const override {
        std::vector<InterfaceAddressEntry> entries;
        for (const auto& [name, address] : interfaces) {
            entries.push_back(interfaceAddress(name, address));
        }
        return entries;
    }
    std::optional<std::vector<NetworkServiceDescription>> services() const override {
        std::vector<NetworkServiceDescription> services;
        for (const auto& [name, address] : interfaces) {
            services.push_back({true, NetworkServiceInterface{name, std::nullopt}, name,
                                "Ethernet (" + name + ")"});
        }
        return services;
    }
};

class IdleNetworkChangeSource final : public NetworkChangeSource {
public:
    bool start(std::function<void()>) override { return true; }
    void stop() override {}
};

}  // namespace kelvra::testing
