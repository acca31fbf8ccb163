// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace kelvra {

// The clicker commands the backend takes: what the keyboard listener captures and the backend
// supervisor sends, shared by both.

/// The direction of a Previous or Next slide click, as the backend's "clicker-key" command
/// names it.
enum class ClickerDirection { left, right };

/// "left" or "right".
std::string_view rawValue(ClickerDirection direction);
/// Exactly "left" or "right"; anything else is no direction.
std::optional<ClickerDirection> clickerDirectionFromRawValue(std::string_view rawValue);

/// The backend actions a custom assignment can send, in menu order.
enum class ClickerCustomAction {
    previousSlide,
    nextSlide,
    blackout,
    freeze,
    displayStillImage1,
    displayStillImage2,
    displayStillImage3,
    displayStillImage4,
    displayStillImage5,
    displayStillImage6,
    displayStillImage7,
    displayStillImage8,
    displayStillImage9,
    displayStillImage10,
};

inline constexpr std::array<ClickerCustomAction, 14> allClickerCustomActions = {
    ClickerCustomAction::previousSlide,      ClickerCustomAction::nextSlide,
    ClickerCustomAction::blackout,           ClickerCustomAction::freeze,
    ClickerCustomAction::displayStillImage1, ClickerCustomAction::displayStillImage2,
    ClickerCustomAction::displayStillImage3, ClickerCustomAction::displayStillImage4,
    ClickerCustomAction::displayStillImage5, ClickerCustomAction::displayStillImage6,
    ClickerCustomAction::displayStillImage7, ClickerCustomAction::displayStillImage8,
    ClickerCustomAction::displayStillImage9, ClickerCustomAction::displayStillImage10,
};

/// The token of the backend's "clicker-action" command, also the stored form:
/// "progress-previous", "blackout", "display-still-image-10", …
std::string_view rawValue(ClickerCustomAction action);
/// An exact, case-sensitive match of one of the fourteen tokens; anything else is no action.
std::optional<ClickerCustomAction> clickerCustomActionFromRawValue(std::string_view rawValue);
/// The menu title: "Previous slide", "Freeze output", …
std::string_view displayName(ClickerCustomAction action);

}  // namespace kelvra
