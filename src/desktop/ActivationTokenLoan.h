// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

#include <QtGlobal>

#include "desktop/WaylandPlatform.h"

namespace kelvra {

/// Lends a second launch's XDG activation token to whatever is raised or started next. Qt 6.4's
/// Wayland shell has no call that takes a token: it reads the variable when a window asks for
/// the focus and unsets it once spent; a browser started meanwhile inherits it and may raise its
/// own window with it. Unset at the end whatever happened, so that no later child process
/// inherits a token that is not its own. Main thread only, like every change of the environment
/// we make. Does nothing outside Wayland.
class ActivationTokenLoan {
public:
    explicit ActivationTokenLoan(const std::optional<std::string>& token)
        : active_(token && !token->empty() && isWaylandPlatform()) {
        if (active_) {
            qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(*token));
        }
    }
    ~ActivationTokenLoan() {
        if (active_) {
            qunsetenv("XDG_ACTIVATION_TOKEN");
        }
    }
    ActivationTokenLoan(const ActivationTokenLoan&) = delete;
    ActivationTokenLoan& operator=(const ActivationTokenLoan&) = delete;

private:
    const bool active_;
};

}  // namespace kelvra
