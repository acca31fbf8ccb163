// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string>

#include "backend/BackendLaunchInfo.h"
#include "backend/BackendPathError.h"
#include "core/Environment.h"

/// Finds the backend's runtime, entry point and working directory. Only inspects the file
/// system; starts nothing.
namespace kelvra::BackendPathResolver {

/// The development layout when `developmentRoot` is present and not blank: the checkout's
/// "server/desktop.js" run by the first executable "node" on `PATH` (an empty `PATH` entry
/// means the current directory). Otherwise the packaged layout below `resourcesDirectory`:
/// "app/server/desktop.js" run by "../Helpers/node". The first problem found is reported.
std::expected<BackendLaunchInfo, BackendPathError> resolve(
    const std::optional<std::filesystem::path>& resourcesDirectory,
    const std::optional<std::string>& developmentRoot, const Environment& environment);

}  // namespace kelvra::BackendPathResolver
