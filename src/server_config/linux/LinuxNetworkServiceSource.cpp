// SPDX-License-Identifier: MIT
#include "server_config/linux/LinuxNetworkServiceSource.h"

#include <cstring>
#include <fstream>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>

namespace kelvra {
namespace {

std::optional<sockaddr_storage> copiedAddress(const sockaddr* address) {
    if (address == nullptr) {
        return std::nullopt;
    }
    sockaddr_storage copy{};
    switch (address->sa_family) {
        case AF_INET:
            std::memcpy(&copy, address, sizeof(sockaddr_in));
            break;
        case AF_INET6:
            std::memcpy(&copy, address, sizeof(sockaddr_in6));
            break;
        default:
            // The length of other families' addresses is not known here, and nobody needs them.
            copy.ss_family = address->sa_family;
            break;
    }
    return copy;
}

std::optional<int> readInteger(const std::filesystem::path& path) {
    std::ifstream file(path);
    int value = 0;
    if (!(file >> value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::shared_ptr<NetworkServiceSource> makeSystemNetworkServiceSource() {
    return std::make_shared<LinuxNetworkServiceSource>();
}

LinuxNetworkServiceSource::LinuxNetworkServiceSource(std::filesystem::path classNetDirectory)
    : classNetDirectory_(std::move(classNetDirectory)) {}

std::optional<std::vector<InterfaceAddressEntry>> LinuxNetworkServiceSource::interfaceAddresses()
    const {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return std::nullopt;
    }
    std::vector<InterfaceAddressEntry> entries;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        entries.push_back(InterfaceAddressEntry{
            .interfaceName = entry->ifa_name != nullptr ? entry->ifa_name : "",
            .flags = entry->ifa_flags,
            .address = copiedAddress(entry->ifa_addr),
        });
    }
    ::freeifaddrs(list);
    return entries;
}

std::optional<std::vector<NetworkServiceDescription>> LinuxNetworkServiceSource::services() const {
    struct if_nameindex* interfaces = ::if_nameindex();
    if (interfaces == nullptr) {
        return std::nullopt;
    }
    std::vector<NetworkServiceDescription> services;
    for (const struct if_nameindex* entry = interfaces; entry->if_index != 0; ++entry) {
        if (entry->if_name == nullptr) {
            continue;
        }
        const std::string name = entry->if_name;
        services.push_back(NetworkServiceDescription{
            .enabled = true,
            .networkInterface =
                NetworkServiceInterface{
                    .shortName = name,
                    .displayName = interfaceLabel(classNetDirectory_, name),
                },
            .id = name,
            .name = std::nullopt,
        });
    }
    ::if_freenameindex(interfaces);
    return services;
}

std::string LinuxNetworkServiceSource::interfaceLabel(
    const std::filesystem::path& classNetDirectory, std::string_view interfaceName) {
    const std::string name(interfaceName);
    // A name the kernel would never give could step out of the directory.
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        return name;
    }
    const std::filesystem::path directory = classNetDirectory / name;
    std::error_code error;
    if (std::filesystem::exists(directory / "wireless", error) ||
        std::filesystem::exists(directory / "phy80211", error)) {
        return "Wi-Fi (" + name + ")";
    }
    // Virtual Ethernet kinds (veth, bridges, taps) have the Ethernet type but no device.
    if (readInteger(directory / "type") == ARPHRD_ETHER &&
        std::filesystem::exists(directory / "device", error)) {
        return "Ethernet (" + name + ")";
    }
    return name;
}

}  // namespace kelvra
