// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

#include "server_config/ControlPageAddress.h"
#include "tray/StatusBarView.h"

/// What the controller's parts show and log in common.
namespace kelvra::statusTexts {

inline constexpr std::string_view logCategory = "shell";

inline const StatusLine starting{"●", StatusColor::secondary, serverStatusText(std::nullopt)};
inline const StatusLine restarting{"●", StatusColor::secondary, "Restarting Kelvra Hub…"};
inline const StatusLine serverError{"✕", StatusColor::red, "Kelvra Hub server error"};
inline StatusLine running(const std::string& url) {
    return {"●", StatusColor::green, serverStatusText(url)};
}

inline constexpr std::string_view startingToolTip = "Kelvra Hub — Starting…";
inline constexpr std::string_view readyToolTip = "Kelvra Hub";

}  // namespace kelvra::statusTexts
