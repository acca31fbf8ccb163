// SPDX-License-Identifier: MIT
#include "server_config/HubNetworkServiceProvider.h"

#include <algorithm>
#include <cstring>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <set>
#include <unicode/coll.h>
#include <unicode/locid.h>

#include "core/Unicode.h"

namespace kelvra {
namespace {

constexpr unsigned int kActiveFlags = IFF_UP | IFF_RUNNING;
constexpr unsigned int kCheckedFlags = IFF_UP | IFF_RUNNING | IFF_LOOPBACK;

std::optional<std::string> numericHost(const sockaddr_storage& address) {
    char host[1025] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof(sockaddr_in), host,
                      sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) {
        return std::nullopt;
    }
    return Unicode::repairedUTF8(std::string_view(host));
}

/// Orders by name as the user's language sorts, ignoring case (but not accents); equal names
/// by identifier.
class ServiceOrder {
public:
    ServiceOrder() {
        icu::Locale locale = icu::Locale::getDefault();
        // The C locale becomes en_US_POSIX, whose collation puts every capital letter before
        // every small one, whatever the strength; the root order ignores case as wanted.
        if (std::strcmp(locale.getVariant(), "POSIX") == 0) {
            locale = icu::Locale::getRoot();
        }
        UErrorCode status = U_ZERO_ERROR;
        collator_.reset(icu::Collator::createInstance(locale, status));
        if (U_FAILURE(status)) {
            collator_.reset();
        } else {
            collator_->setStrength(icu::Collator::SECONDARY);
        }
    }

    bool operator()(const HubNetworkService& a, const HubNetworkService& b) const {
        const int names = compareNames(a.name, b.name);
        return names != 0 ? names < 0 : a.id < b.id;
    }

private:
    int compareNames(const std::string& a, const std::string& b) const {
        if (!collator_) {
            return a.compare(b);
        }
        UErrorCode status = U_ZERO_ERROR;
        const UCollationResult result = collator_->compareUTF8(a, b, status);
        return U_FAILURE(status) ? a.compare(b) : static_cast<int>(result);
    }

    std::unique_ptr<icu::Collator> collator_;
};

}  // namespace

HubNetworkServiceProvider::HubNetworkServiceProvider(
    std::shared_ptr<const NetworkServiceSource> source)
    : source_(std::move(source)) {}

std::map<std::string, std::vector<std::string>>
HubNetworkServiceProvider::activeIPv4AddressesByInterface() const {
    const auto entries = source_->interfaceAddresses();
    if (!entries) {
        return {};
    }
    std::map<std::string, std::set<std::string>> addressSets;
    for (const auto& entry : *entries) {
        if (!entry.address || entry.address->ss_family != AF_INET ||
            (entry.flags & kCheckedFlags) != kActiveFlags) {
            continue;
        }
        if (auto host = numericHost(*entry.address)) {
            addressSets[entry.interfaceName].insert(std::move(*host));
        }
    }
    std::map<std::string, std::vector<std::string>> addresses;
    for (auto& [interfaceName, set] : addressSets) {
        // A set of std::string iterates in byte order, which is character-code order.
        addresses.emplace(interfaceName, std::vector<std::string>(set.begin(), set.end()));
    }
    return addresses;
}

std::vector<HubNetworkService> HubNetworkServiceProvider::availableServices() const {
    const auto addresses = activeIPv4AddressesByInterface();
    const auto services = source_->services();
    if (!services) {
        return {};
    }
    std::vector<HubNetworkService> available;
    for (const auto& service : *services) {
        if (!service.enabled || !service.networkInterface || !service.networkInterface->shortName ||
            !service.id) {
            continue;
        }
        const std::string& shortName = *service.networkInterface->shortName;
        const auto found = addresses.find(shortName);
        if (found == addresses.end() || found->second.empty()) {
            continue;
        }
        const std::string& name = service.name ? *service.name
                                  : service.networkInterface->displayName
                                      ? *service.networkInterface->displayName
                                      : shortName;
        // Identifiers and names end up in the JSON settings, which hold only valid UTF-8.
        available.push_back(HubNetworkService{
            .id = Unicode::repairedUTF8(*service.id),
            .name = Unicode::repairedUTF8(name),
            .interfaceName = Unicode::repairedUTF8(shortName),
            .ipv4Addresses = found->second,
        });
    }
    const ServiceOrder order;
    std::ranges::stable_sort(available,
                             [&order](const auto& a, const auto& b) { return order(a, b); });
    return available;
}

}  // namespace kelvra
