// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace kelvra {

/// The application's reverse-DNS identifier; queue labels and notification names extend it.
inline constexpr std::string_view kAppIdentifierPrefix = "com.morvane.kelvrahub";

/// `kAppIdentifierPrefix` + `suffix`, for example ".backend-input".
inline std::string appIdentifier(std::string_view suffix) {
    return std::string(kAppIdentifierPrefix) + std::string(suffix);
}

}  // namespace kelvra
