// SPDX-License-Identifier: MIT
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unicode/locid.h>

#include "server_config/HubNetworkServiceProvider.h"

namespace kelvra {
namespace {

constexpr unsigned int kUpRunning = IFF_UP | IFF_RUNNING;
constexpr unsigned int kLoopback = IFF_UP | IFF_RUNNING | IFF_LOOPBACK;

using Addresses = std::optional<std::vector<InterfaceAddressEntry>>;
using Descriptions = std::optional<std::vector<NetworkServiceDescription>>;

class FakeNetworkServiceSource final : public NetworkServiceSource {
public:
    FakeNetworkServiceSource(Addresses addresses, Descriptions services)
        : addresses_(std::move(addresses)), services_(std::move(services)) {}
    Addresses interfaceAddresses() const override { return addresses_; }
    Descriptions services() const override { return services_; }

private:
    Addresses addresses_;
    Descriptions services_;
};

HubNetworkServiceProvider providerOver(Addresses addresses, Descriptions services) {
    return HubNetworkServiceProvider(
        std::make_shared<FakeNetworkServiceSource>(std::move(addresses), std::move(services)));
}

InterfaceAddressEntry ipv4(std::string interfaceName, const char* address,
                           unsigned int flags = kUpRunning) {
    sockaddr_storage storage{};
    auto* inet = reinterpret_cast<sockaddr_in*>(&storage);
    inet->sin_family = AF_INET;
    EXPECT_EQ(::inet_pton(AF_INET, address, &inet->sin_addr), 1) << address;
    return {std::move(interfaceName), flags, storage};
}

InterfaceAddressEntry ipv6(std::string interfaceName, const char* address,
                           unsigned int flags = kUpRunning) {
    sockaddr_storage storage{};
    auto* inet6 = reinterpret_cast<sockaddr_in6*>(&storage);
    inet6->sin6_family = AF_INET6;
    EXPECT_EQ(::inet_pton(AF_INET6, address, &inet6->sin6_addr), 1) << address;
    return {std::move(interfaceName), flags, storage};
}

InterfaceAddressEntry withoutAddress(std::string interfaceName, unsigned int flags = kUpRunning) {
    return {std::move(interfaceName), flags, std::nullopt};
}

struct ServiceRow {
    std::string id;
    std::string interfaceName;
    std::optional<std::string> name = std::nullopt;
    std::optional<std::string> displayName = std::nullopt;
};

NetworkServiceDescription described(const ServiceRow& row) {
    return {true, NetworkServiceInterface{row.interfaceName, row.displayName}, row.id, row.name};
}

HubNetworkService listed(std::string id, std::string name, std::string interfaceName,
                         std::vector<std::string> addresses) {
    return {std::move(id), std::move(name), std::move(interfaceName), std::move(addresses)};
}

TEST(HubNetworkServiceProviderTest, ListsOnlyServicesThatCanBeChosen) {
    const struct {
        const char* name;
        std::vector<InterfaceAddressEntry> addresses;
        std::vector<NetworkServiceDescription> services;
        std::vector<HubNetworkService> expected;
    } rows[] = {
        {"only loopback has IPv4",
         {ipv4("lo", "127.0.0.1", kLoopback), ipv6("eth0", "fe80::1")},
         {described({"lo", "lo"}), described({"eth0", "eth0"})},
         {}},
        {"interface down, or up but not running",
         {ipv4("eth0", "10.0.0.2", 0), ipv4("eth1", "10.0.1.2", IFF_UP),
          ipv4("eth2", "10.0.2.2", IFF_RUNNING)},
         {described({"eth0", "eth0"}), described({"eth1", "eth1"}), described({"eth2", "eth2"})},
         {}},
        {"disabled service",
         {ipv4("eth0", "10.0.0.2")},
         {{false, NetworkServiceInterface{"eth0", "Ethernet"}, "eth0", "Ethernet"}},
         {}},
        {"service without interface, short name or identifier",
         {ipv4("eth0", "10.0.0.2")},
         {{true, std::nullopt, "a", "A"},
          {true, NetworkServiceInterface{std::nullopt, "Ethernet"}, "b", "B"},
          {true, NetworkServiceInterface{"eth0", "Ethernet"}, std::nullopt, "C"}},
         {}},
        {"names fall back to the display name, then the short name",
         {ipv4("eth0", "10.0.0.2"), ipv4("eth1", "10.0.1.2"), ipv4("eth2", "10.0.2.2")},
         {described({"s0", "eth0", "Own", "Display"}), described({"s1", "eth1", {}, "Display"}),
          described({"s2", "eth2"})},
         {listed("s1", "Display", "eth1", {"10.0.1.2"}), listed("s2", "eth2", "eth2", {"10.0.2.2"}),
          listed("s0", "Own", "eth0", {"10.0.0.2"})}},
        {"addresses deduplicated and sorted by character code",
         {ipv4("eth0", "192.168.1.20"), ipv4("eth0", "10.0.0.9"), ipv6("eth0", "fe80::1"),
          ipv4("eth0", "10.0.0.10"), ipv4("eth0", "192.168.1.20"), ipv4("eth0", "10.0.0.7")},
         {described({"eth0", "eth0"})},
         {listed("eth0", "eth0", "eth0", {"10.0.0.10", "10.0.0.7", "10.0.0.9", "192.168.1.20"})}},
        {"names ignore case; equal names go by identifier",
         {ipv4("wlan0", "10.0.0.1"), ipv4("eth0", "10.0.0.2"), ipv4("wlan1", "10.0.0.3"),
          ipv4("wlan2", "10.0.0.4")},
         {described({"W2", "wlan0", "Wi-Fi"}), described({"E", "eth0", "ethernet"}),
          described({"W1", "wlan1", "Wi-Fi"}), described({"W0", "wlan2", "wi-fi"})},
         {listed("E", "ethernet", "eth0", {"10.0.0.2"}),
          listed("W0", "wi-fi", "wlan2", {"10.0.0.4"}),
          listed("W1", "Wi-Fi", "wlan1", {"10.0.0.3"}),
          listed("W2", "Wi-Fi", "wlan0", {"10.0.0.1"})}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(providerOver(row.addresses, row.services).availableServices(), row.expected);
    }
}

TEST(HubNetworkServiceProviderTest, IgnoresCaseInTheCLocaleToo) {
    // ICU's stand-in for the C locale orders every capital letter before every small one.
    const icu::Locale previous = icu::Locale::getDefault();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en_US_POSIX"), status);
    ASSERT_TRUE(U_SUCCESS(status));
    const auto services =
        providerOver(
            std::vector{ipv4("wlan0", "10.0.0.1"), ipv4("eth0", "10.0.0.2")},
            std::vector{described({"W", "wlan0", "Wi-Fi"}), described({"E", "eth0", "ethernet"})})
            .availableServices();

    icu::Locale::setDefault(previous, status);
    EXPECT_EQ(services, (std::vector{listed("E", "ethernet", "eth0", {"10.0.0.2"}),
                                     listed("W", "Wi-Fi", "wlan0", {"10.0.0.1"})}));
}

TEST(HubNetworkServiceProviderTest, ListsNothingWhenASourceCannotBeRead) {
    const struct {
        const char* name;
        Addresses addresses;
        Descriptions services;
    } rows[] = {
        {"addresses unreadable", std::nullopt, std::vector{described({"eth0", "eth0"})}},
        {"services unreadable", std::vector{ipv4("eth0", "10.0.0.2")}, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(providerOver(row.addresses, row.services).availableServices(),
                  std::vector<HubNetworkService>{});
    }
}

TEST(HubNetworkServiceProviderTest, MapsActiveAddressesByInterface) {
    const auto provider =
        providerOver(std::vector{ipv4("lo", "127.0.0.1", kLoopback), ipv4("eth0", "10.1.2.3"),
                                 ipv4("eth0", "192.168.0.2"), ipv4("eth0", "10.1.2.3"),
                                 ipv4("eth1", "10.9.9.9", IFF_UP), withoutAddress("eth2")},
                     std::nullopt);
    EXPECT_EQ(
        provider.activeIPv4AddressesByInterface(),
        (std::map<std::string, std::vector<std::string>>{{"eth0", {"10.1.2.3", "192.168.0.2"}}}));
}

}  // namespace
}  // namespace kelvra
