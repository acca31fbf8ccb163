// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace kelvra {

/// "host:port" of a control-page URL as the user is shown where the server runs: "localhost"
/// when the URL names no host, 80 when it names no port. Both read from text that does not
/// parse as a URL.
std::string controlPageHostAndPort(std::string_view url);

}  // namespace kelvra
