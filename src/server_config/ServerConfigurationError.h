// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace kelvra {

/// Why applying new server settings failed.
class ServerConfigurationError {
public:
    enum class Kind { applyFailed, restoreFailed, appIsClosing };

    /// The new settings failed and the previous server runs again.
    static ServerConfigurationError applyFailed(std::string detail) {
        return ServerConfigurationError(Kind::applyFailed, std::move(detail));
    }
    /// The new settings failed and the previous server could not be started again either.
    static ServerConfigurationError restoreFailed(std::string detail) {
        return ServerConfigurationError(Kind::restoreFailed, std::move(detail));
    }
    static ServerConfigurationError appIsClosing() {
        return ServerConfigurationError(Kind::appIsClosing);
    }

    Kind kind() const { return kind_; }
    /// What went wrong underneath; empty for `appIsClosing`.
    const std::string& detail() const { return detail_; }

    std::string description() const;
    std::string diagnosticDescription() const;

    friend bool operator==(const ServerConfigurationError&,
                           const ServerConfigurationError&) = default;

private:
    explicit ServerConfigurationError(Kind kind, std::string detail = {})
        : kind_(kind), detail_(std::move(detail)) {}

    Kind kind_;
    std::string detail_;
};

}  // namespace kelvra
