// SPDX-License-Identifier: MIT
#include "server_config/HubServerPortInputValidator.h"

#include <algorithm>
#include <charconv>

#include "core/Unicode.h"

namespace kelvra::HubServerPortInputValidator {

HubServerPortInputValidation validate(std::string_view text, HubServerPort activePort) {
    const std::string trimmed = Unicode::trimmed(text);
    if (trimmed.empty()) {
        return HubServerPortInputValidation::invalid("Enter a port number.");
    }
    // Bytes of non-ASCII characters (full-width digits among them) are never ASCII digits.
    const bool digitsOnly =
        std::ranges::all_of(trimmed, [](char c) { return c >= '0' && c <= '9'; });
    int64_t port = 0;
    const auto [end, error] =
        std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), port);
    if (!digitsOnly || error != std::errc() || end != trimmed.data() + trimmed.size()) {
        return HubServerPortInputValidation::invalid("Port must contain numbers only.");
    }
    if (port == activePort.number()) {
        return HubServerPortInputValidation::unchanged();
    }
    if (const auto chosen = HubServerPort::from(port); chosen && chosen->isChoosable()) {
        return HubServerPortInputValidation::valid(*chosen);
    }
    return HubServerPortInputValidation::invalid("Use a port from 1024 through 65535.");
}

}  // namespace kelvra::HubServerPortInputValidator
