// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

#include "desktop/Browser.h"

namespace kelvra {

/// Lends a second launch's XDG activation token to the browser that the request opens, for as
/// long as the request is handled: a browser opened later (the page not ready yet) is not
/// the one the token was given for, so a token left unspent is taken back.
class ActivationTokenLoan {
public:
    ActivationTokenLoan(Browser& browser, const std::optional<std::string>& token)
        : browser_(browser) {
        browser_.lendActivationToken(token);
    }
    ~ActivationTokenLoan() { browser_.lendActivationToken(std::nullopt); }
    ActivationTokenLoan(const ActivationTokenLoan&) = delete;
    ActivationTokenLoan& operator=(const ActivationTokenLoan&) = delete;

private:
    Browser& browser_;
};

}  // namespace kelvra
