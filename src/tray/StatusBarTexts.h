// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

#include "server_config/ServerStatus.h"
#include "tray/StatusBarView.h"

/// What the controller's parts show and log in common.
namespace kelvra::statusTexts {

inline constexpr std::string_view logCategory = "shell";

/// The tray's status line for `status`: a green dot while running, a red cross once failed.
inline StatusLine statusLine(const ServerStatus& status) {
    switch (status.phase()) {
        case ServerStatus::Phase::running:
            return {"●", StatusColor::green, status.trayText()};
        case ServerStatus::Phase::failed:
            return {"✕", StatusColor::red, status.trayText()};
        default:
            return {"●", StatusColor::secondary, status.trayText()};
    }
}

inline constexpr std::string_view startingToolTip = "Kelvra Hub — Starting…";
inline constexpr std::string_view readyToolTip = "Kelvra Hub";

}  // namespace kelvra::statusTexts
