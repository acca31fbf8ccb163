// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "server_config/HubServerConfigurationResolver.h"

namespace kelvra {
namespace {

using Selection = HubNetworkSelection;

HubNetworkService service(std::string id, std::string name, std::vector<std::string> addresses) {
    return {id, std::move(name), id, std::move(addresses)};
}

BackendServerBinding resolved(std::string bindHost, uint16_t port, std::string urlHost) {
    return {std::move(bindHost), port, std::move(urlHost)};
}

TEST(HubServerConfigurationResolverTest, ResolvesEachSelection) {
    const std::vector<HubNetworkService> ethernetThenWiFi = {
        service("enp3s0", "Ethernet (enp3s0)", {"10.0.0.5"}),
        service("wlp2s0", "Wi-Fi (wlp2s0)", {"192.168.1.3"}),
    };
    const struct {
        const char* name;
        HubServerConfiguration configuration;
        std::vector<HubNetworkService> services;
        BackendServerBinding expected;
    } rows[] = {
        {"localhost ignores services",
         {8080, Selection::localhost()},
         ethernetThenWiFi,
         resolved("127.0.0.1", 8080, "127.0.0.1")},
        {"all networks, no services",
         {31603, Selection::allNetworks()},
         {},
         resolved("0.0.0.0", 31603, "127.0.0.1")},
        {"all networks shows the first service's first address",
         {31603, Selection::allNetworks()},
         ethernetThenWiFi,
         resolved("0.0.0.0", 31603, "10.0.0.5")},
        {"all networks skips services without an address",
         {31603, Selection::allNetworks()},
         {service("a", "A", {}), service("b", "B", {"10.1.2.3", "192.168.0.2"})},
         resolved("0.0.0.0", 31603, "10.1.2.3")},
        {"chosen service under its current name, all addresses",
         {31603, Selection::service("wlp2s0", "Wi-Fi")},
         {service("enp3s0", "Ethernet (enp3s0)", {"10.0.0.5"}),
          service("wlp2s0", "Office Wi-Fi", {"10.0.0.7", "192.168.1.20"})},
         resolved("10.0.0.7", 31603, "10.0.0.7")},
        {"first service with the identifier wins",
         {31603, Selection::service("x", "X")},
         {service("x", "First", {"10.0.0.1"}), service("x", "Second", {"10.0.0.2"})},
         resolved("10.0.0.1", 31603, "10.0.0.1")},
        {"identifiers compare exactly",
         {31603, Selection::service("ETH0", "Ethernet")},
         {service("eth0", "Ethernet", {"10.0.0.5"})},
         resolved("127.0.0.1", 31603, "127.0.0.1")},
        {"absent service falls back to localhost, not all networks",
         {31603, Selection::service("wlp2s0", "Wi-Fi (wlp2s0)")},
         {service("enp3s0", "Ethernet (enp3s0)", {"10.0.0.5"})},
         resolved("127.0.0.1", 31603, "127.0.0.1")},
        {"service without an address is unavailable",
         {31603, Selection::service("wlp2s0", "Wi-Fi")},
         {service("wlp2s0", "Wi-Fi", {})},
         resolved("127.0.0.1", 31603, "127.0.0.1")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto result =
            HubServerConfigurationResolver::resolve(row.configuration, row.services);
        EXPECT_EQ(result, row.expected) << result.bindHost << " " << result.urlHost;
    }
}

}  // namespace
}  // namespace kelvra
