// SPDX-License-Identifier: MIT
#pragma once

#include <arpa/inet.h>
#include <functional>
#include <net/if.h>
#include <string>
#include <sys/socket.h>
#include <utility>
#include <vector>

#include "server_config/NetworkChangeSource.h"
#include "server_config/NetworkServiceSource.h"

namespace kelvra::testing {

/// Ethernet interfaces that are up, each with the IPv4 address the test gives.
class FakeNetworkServices final : public NetworkServiceSource {
public:
    std::vector<std::pair<std::string, std::string>> interfaces;  ///< name, address

    std::optional<std::vector<InterfaceAddressEntry>> interfaceAddresses() const override {
        std::vector<InterfaceAddressEntry> entries;
        for (const auto& [name, address] : interfaces) {
            sockaddr_storage storage{};
            auto* inet = reinterpret_cast<sockaddr_in*>(&storage);
            inet->sin_family = AF_INET;
            ::inet_pton(AF_INET, address.c_str(), &inet->sin_addr);
            entries.push_back({name, IFF_UP | IFF_RUNNING, storage});
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
