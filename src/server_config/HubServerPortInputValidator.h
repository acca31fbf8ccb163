// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "server_config/HubServerPort.h"

namespace kelvra {

/// What the typed port text amounts to.
class HubServerPortInputValidation {
public:
    enum class Kind { invalid, valid, unchanged };

    /// The text cannot be applied; `message` says why, for the user.
    static HubServerPortInputValidation invalid(std::string message) {
        return HubServerPortInputValidation(Kind::invalid, {}, std::move(message));
    }
    /// A usable port that differs from the active one.
    static HubServerPortInputValidation valid(HubServerPort port) {
        return HubServerPortInputValidation(Kind::valid, port, {});
    }
    /// The typed port is the one in use.
    static HubServerPortInputValidation unchanged() {
        return HubServerPortInputValidation(Kind::unchanged, {}, {});
    }

    Kind kind() const { return kind_; }
    /// The port of `valid`; the default otherwise.
    HubServerPort port() const { return port_; }
    /// The message of `invalid`; empty otherwise.
    const std::string& message() const { return message_; }

    friend bool operator==(const HubServerPortInputValidation&,
                           const HubServerPortInputValidation&) = default;

private:
    HubServerPortInputValidation(Kind kind, HubServerPort port, std::string message)
        : kind_(kind), port_(port), message_(std::move(message)) {}

    Kind kind_;
    HubServerPort port_;
    std::string message_;
};

namespace HubServerPortInputValidator {

/// Checks the text of the port field against the port in use. White space at both ends is
/// ignored; anything but the ASCII digits inside it is not a number. The port in use counts as
/// `unchanged` even when it is not choosable, so a stored low port can be typed again.
HubServerPortInputValidation validate(std::string_view text, HubServerPort activePort);

}  // namespace HubServerPortInputValidator
}  // namespace kelvra
