// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "server_config/HubServerPort.h"

namespace kelvra {

/// Which network the backend server listens on.
class HubNetworkSelection {
public:
    enum class Kind { service, allNetworks, localhost };

    /// One network service's address. `lastKnownName` is the service's name when it was chosen,
    /// so that the choice can still be shown once the service is gone.
    static HubNetworkSelection service(std::string id, std::string lastKnownName) {
        return HubNetworkSelection(Kind::service, std::move(id), std::move(lastKnownName));
    }
    static HubNetworkSelection allNetworks() { return HubNetworkSelection(Kind::allNetworks); }
    static HubNetworkSelection localhost() { return HubNetworkSelection(Kind::localhost); }

    /// All networks, the default.
    HubNetworkSelection() = default;

    Kind kind() const { return kind_; }
    /// The service identifier; empty unless `kind()` is `service`.
    const std::string& id() const { return id_; }
    /// Empty unless `kind()` is `service`.
    const std::string& lastKnownName() const { return lastKnownName_; }

    /// A renamed service compares unequal: the name is part of the choice.
    friend bool operator==(const HubNetworkSelection&, const HubNetworkSelection&) = default;

private:
    explicit HubNetworkSelection(Kind kind, std::string id = {}, std::string lastKnownName = {})
        : kind_(kind), id_(std::move(id)), lastKnownName_(std::move(lastKnownName)) {}

    Kind kind_ = Kind::allNetworks;
    std::string id_;
    std::string lastKnownName_;
};

/// Where the user wants the backend server: a wish, not yet an address to listen on.
struct HubServerConfiguration {
    HubServerPort port;
    HubNetworkSelection networkSelection;

    friend bool operator==(const HubServerConfiguration&, const HubServerConfiguration&) = default;
};

}  // namespace kelvra
