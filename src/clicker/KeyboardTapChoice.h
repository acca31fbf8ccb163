// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "clicker/KeyboardTapBackend.h"

namespace kelvra {

/// Forces one tap for tests: "device" or "x11".
inline constexpr std::string_view kKeyboardTapVariable = "KELVRA_HUB_KEYBOARD_TAP";

/// The taps a session may offer, in order of preference.
struct KeyboardTapBackends {
    /// Works in every session where the keyboards' device files open.
    KeyboardTapBackendFactory device;
    /// X11 sessions without device access.
    KeyboardTapBackendFactory x11;
};

/// Opens the first tap that works: the device tap, else the X11 tap, or only the one `forced`
/// names. The error lists why each candidate failed.
std::expected<std::unique_ptr<KeyboardTapBackend>, KeyboardTapError> openKeyboardTap(
    const KeyboardTapBackends& backends, const std::optional<std::string>& forced);

}  // namespace kelvra
