// SPDX-License-Identifier: MIT
#include "windows/ClickerDistributorStatus.h"

namespace kelvra {

ClickerDistributorStatus clickerDistributorStatus(const ClickerDistributorState& state,
                                                  AccessibilityAuthorizationStatus permission,
                                                  ClickerInputListenerState listener,
                                                  bool testingInput) {
    if (!state.enabled) {
        return {QStringLiteral("Off — Kelvra Hub is not monitoring keyboard input."),
                ThemeColors::Role::secondaryLabel,
                {}};
    }
    if (permission != AccessibilityAuthorizationStatus::granted) {
        return {QStringLiteral("Keyboard Access required — Kelvra Hub cannot reserve assigned "
                               "clicker keystrokes."),
                ThemeColors::Role::orange,
                permission == AccessibilityAuthorizationStatus::denied
                    ? QStringLiteral("Show Keyboard Access Help")
                    : QStringLiteral("Request Keyboard Access")};
    }
    if (listener == ClickerInputListenerState::failed) {
        return {QStringLiteral("Listener error — Kelvra Hub could not reserve assigned keystrokes. "
                               "Check Keyboard Access, then restart Kelvra Hub."),
                ThemeColors::Role::red,
                {}};
    }
    if (!state.listenerRequired && !testingInput) {
        return {QStringLiteral("Ready — Keyboard Access is enabled. No Presentation group "
                               "currently receives clicks."),
                ThemeColors::Role::secondaryLabel,
                {}};
    }
    return {};
}

}  // namespace kelvra
