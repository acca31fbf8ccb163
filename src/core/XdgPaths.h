// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>

#include "core/Environment.h"

/// The per-user base directories of the XDG Base Directory specification. A variable that is
/// unset, empty or not an absolute path is ignored, as that specification requires.
namespace kelvra::XdgPaths {

/// `$HOME`, or the home directory of the user database when it is unset or relative.
std::filesystem::path homeDirectory(const Environment& environment);

/// `$XDG_CONFIG_HOME`, default `~/.config`.
std::filesystem::path configHome(const Environment& environment);

/// `$XDG_DATA_HOME`, default `~/.local/share`.
std::filesystem::path dataHome(const Environment& environment);

/// `$XDG_STATE_HOME`, default `~/.local/state`.
std::filesystem::path stateHome(const Environment& environment);

/// `$XDG_RUNTIME_DIR`; absent when unset (there is no default).
std::optional<std::filesystem::path> runtimeDirectory(const Environment& environment);

/// The application's folder below a base directory: "Morvane/Kelvra Hub".
std::filesystem::path applicationDirectory(const std::filesystem::path& base);

}  // namespace kelvra::XdgPaths
