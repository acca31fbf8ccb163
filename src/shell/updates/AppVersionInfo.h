// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

#include "shell/updates/BundleInfo.h"

namespace kelvra {

/// The version text of an information dictionary, as the welcome window shows it.
struct AppVersionInfo {
    /// The short version, trimmed; "Unknown" when missing, not a string or blank.
    std::string version;
    /// The build, trimmed; absent when missing, blank or the same as the short version.
    std::optional<std::string> build;

    explicit AppVersionInfo(const InfoDictionary& infoDictionary);
};

}  // namespace kelvra
