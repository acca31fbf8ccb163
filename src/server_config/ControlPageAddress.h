// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelvra {

/// "host:port" of a control-page URL as the user is shown where the server runs: "localhost"
/// when the URL names no host, 80 when it names no port. Both read from text that does not
/// parse as a URL.
std::string controlPageHostAndPort(std::string_view url);

/// The server's state as the tray and the windows name it: "Running on host:port" while it is
/// ready at `url`, "Starting Kelvra Hub…" while there is no address.
std::string serverStatusText(const std::optional<std::string>& url);

}  // namespace kelvra
