// SPDX-License-Identifier: MIT
#include "server_config/HubServerPortAvailabilityChecker.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

#include "core/UniqueFd.h"
#include "server_config/HubServerConfigurationResolver.h"

namespace kelvra::HubServerPortAvailabilityChecker {

std::optional<std::string> errorMessage(HubServerPort port, const std::string& bindHost) {
    const std::string portText = std::to_string(port.number());
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket) {
        return "Kelvra Hub could not check whether port " + portText + " is available.";
    }
    const int reuseAddress = 1;
    // Without it a port that the previous server left in TIME_WAIT would look taken.
    ::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &reuseAddress, sizeof reuseAddress);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port.number());
    // inet_pton would stop at an embedded zero byte and accept what precedes it.
    if (bindHost.find('\0') != std::string::npos ||
        ::inet_pton(AF_INET, bindHost.c_str(), &address.sin_addr) != 1) {
        return "Kelvra Hub could not check port " + portText + " on the selected network.";
    }
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return std::nullopt;
    }
    if (errno == EADDRINUSE) {
        return "Port " + portText + " is already in use.";
    }
    return "Port " + portText + " is not available on the selected network.";
}

HubServerPortInputValidation validateForApply(
    std::string_view text, const HubServerConfiguration& configuration,
    const std::vector<HubNetworkService>& availableServices) {
    HubServerPortInputValidation validation =
        HubServerPortInputValidator::validate(text, configuration.port);
    if (validation.kind() != HubServerPortInputValidation::Kind::valid) {
        return validation;
    }
    const std::string bindHost =
        HubServerConfigurationResolver::resolve(configuration, availableServices).bindHost;
    if (auto message = errorMessage(validation.port(), bindHost)) {
        return HubServerPortInputValidation::invalid(std::move(*message));
    }
    return validation;
}

}  // namespace kelvra::HubServerPortAvailabilityChecker
