// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include <QString>

namespace kelvra {

/// "host:port" of a control-page address, as the windows show it: "localhost" for an address
/// without a host and 80 for one without a port.
QString serverHostAndPort(const std::string& url);

}  // namespace kelvra
