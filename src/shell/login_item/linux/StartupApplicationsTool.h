// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/Environment.h"

/// The desktop's own settings for the applications that start at login.
namespace kelvra::StartupApplicationsTool {

/// The command line that opens them: the current desktop's tool (after `XDG_CURRENT_DESKTOP`)
/// when it is installed, else the first installed tool of any desktop, found on the PATH of
/// `environment`. Absent when none is installed.
std::optional<std::vector<std::string>> command(const Environment& environment);

/// Starts `command` (its first word an absolute path) in a session of its own, without waiting
/// for it; false when it could not be started.
bool launch(const std::vector<std::string>& command);

}  // namespace kelvra::StartupApplicationsTool
