// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <unicode/locid.h>

#include "FakeNetworkServices.h"
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

InterfaceAddressEntry ip(std::string interfaceName, const char* address,
                         unsigned int flags = kUpRunning) {
    return testing::interfaceAddress(std::move(interfaceName), address, flags);
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

TEST(HubNetworkServiceProviderTest, ListsOnlyServicesThatCanBeChosen) {
    const struct {
        const char* name;
        std::vector<InterfaceAddressEntry> addresses;
        std::vector<NetworkServiceDescription> services;
        std::vector<HubNetworkService> expected;
    } rows[] = {
        {"only loopback has IPv4",
         {ip("lo", "127.0.0.1", kLoopback), ip("eth0", "fe80::1")},
         {described({"lo", "lo"}), described({"eth0", "eth0"})},
         {}},
        {"interface down, or up but not running",
         {ip("eth0", "10.0.0.2", 0), ip("eth1", "10.0.1.2", IFF_UP),
          ip("eth2", "10.0.2.2", IFF_RUNNING)},
         {described({"eth0", "eth0"}), described({"eth1", "eth1"}), described({"eth2", "eth2"})},
         {}},
        {"disabled service",
         {ip("eth0", "10.0.0.2")},
         {{false, NetworkServiceInterface{"eth0", "Ethernet"}, "eth0", "Ethernet"}},
         {}},
        {"service without interface, short name or identifier",
         {ip("eth0", "10.0.0.2")},
         {{true, std::nullopt, "a", "A"},
          {true, NetworkServiceInterface{std::nullopt, "Ethernet"}, "b", "B"},
          {true, NetworkServiceInterface{"eth0", "Ethernet"}, std::nullopt, "C"}},
         {}},
        {"names fall back to the display name, then the short name",
         {ip("eth0", "10.0.0.2"), ip("eth1", "10.0.1.2"), ip("eth2", "10.0.2.2")},
         {described({"s0", "eth0", "Own", "Display"}), described({"s1", "eth1", {}, "Display"}),
          described({"s2", "eth2"})},
         {{"s1", "Display", "eth1", {"10.0.1.2"}},
          {"s2", "eth2", "eth2", {"10.0.2.2"}},
          {"s0", "Own", "eth0", {"10.0.0.2"}}}},
        {"addresses deduplicated and sorted by character code",
         {ip("eth0", "192.168.1.20"), ip("eth0", "10.0.0.9"), ip("eth0", "fe80::1"),
          ip("eth0", "10.0.0.10"), ip("eth0", "192.168.1.20"), ip("eth0", "10.0.0.7")},
         {described({"eth0", "eth0"})},
         {{"eth0", "eth0", "eth0", {"10.0.0.10", "10.0.0.7", "10.0.0.9", "192.168.1.20"}}}},
        {"names ignore case; equal names go by identifier",
         {ip("wlan0", "10.0.0.1"), ip("eth0", "10.0.0.2"), ip("wlan1", "10.0.0.3"),
          ip("wlan2", "10.0.0.4")},
         {described({"W2", "wlan0", "Wi-Fi"}), described({"E", "eth0", "ethernet"}),
          described({"W1", "wlan1", "Wi-Fi"}), described({"W0", "wlan2", "wi-fi"})},
         {{"E", "ethernet", "eth0", {"10.0.0.2"}},
          {"W0", "wi-fi", "wlan2", {"10.0.0.4"}},
          {"W1", "Wi-Fi", "wlan1", {"10.0.0.3"}},
          {"W2", "Wi-Fi", "wlan0", {"10.0.0.1"}}}},
    };
    // ICU's stand-in for the C locale orders every capital letter before every small one.
    const icu::Locale previous = icu::Locale::getDefault();
    for (const char* locale : {"en_US", "en_US_POSIX"}) {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(locale), status);
        ASSERT_TRUE(U_SUCCESS(status));
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(locale) + ": " + row.name);
            EXPECT_EQ(providerOver(row.addresses, row.services).availableServices(), row.expected);
        }
    }
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(previous, status);
}

TEST(HubNetworkServiceProviderTest, ListsNothingWhenASourceCannotBeRead) {
    EXPECT_TRUE(providerOver(std::nullopt, std::vector{described({"eth0", "eth0"})})
                    .availableServices()
                    .empty());
    EXPECT_TRUE(providerOver(std::vector{ip("eth0", "10.0.0.2")}, std::nullopt)
                    .availableServices()
                    .empty());
}

TEST(HubNetworkServiceProviderTest, MapsActiveAddressesByInterface) {
    const auto provider =
        providerOver(std::vector{ip("lo", "127.0.0.1", kLoopback), ip("eth0", "10.1.2.3"),
                                 ip("eth0", "192.168.0.2"), ip("eth0", "10.1.2.3"),
                                 ip("eth1", "10.9.9.9", IFF_UP),
                                 InterfaceAddressEntry{"eth2", kUpRunning, std::nullopt}},
                     std::nullopt);
    EXPECT_EQ(
        provider.activeIPv4AddressesByInterface(),
        (std::map<std::string, std::vector<std::string>>{{"eth0", {"10.1.2.3", "192.168.0.2"}}}));
}

}  // namespace
}  // namespace kelvra
