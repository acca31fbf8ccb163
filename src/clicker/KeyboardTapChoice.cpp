// SPDX-License-Identifier: MIT
#include "clicker/KeyboardTapChoice.h"

#include <utility>

namespace kelvra {

std::expected<std::unique_ptr<KeyboardTapBackend>, KeyboardTapError> openKeyboardTap(
    const KeyboardTapBackends& backends, const std::optional<std::string>& forced) {
    struct Candidate {
        std::string_view name;
        const KeyboardTapBackendFactory& factory;
    };
    const Candidate candidates[] = {{"device", backends.device}, {"x11", backends.x11}};
    std::string reasons;
    for (const Candidate& candidate : candidates) {
        if (forced && *forced != candidate.name) {
            continue;
        }
        if (!reasons.empty()) {
            reasons += "; ";
        }
        reasons += std::string(candidate.name) + " tap: ";
        auto backend = candidate.factory ? candidate.factory() : nullptr;
        if (!backend) {
            reasons += "not available in this session";
            continue;
        }
        if (auto opened = backend->open(); !opened) {
            reasons += opened.error().message;
            continue;
        }
        return backend;
    }
    if (reasons.empty()) {
        reasons = "no tap is named " + *forced;
    }
    return std::unexpected(KeyboardTapError{std::move(reasons)});
}

}  // namespace kelvra
