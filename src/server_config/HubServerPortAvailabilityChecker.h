// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kelvra::HubServerPortAvailabilityChecker {

/// Tries to bind a TCP socket to `port` on `bindHost` (a dotted IPv4 address: "0.0.0.0",
/// "127.0.0.1" or a service's address) and lets it go at once. Absent when the bind worked,
/// otherwise the message for the user. Never listens, so the port is free again on return.
std::optional<std::string> errorMessage(int64_t port, const std::string& bindHost);

}  // namespace kelvra::HubServerPortAvailabilityChecker
