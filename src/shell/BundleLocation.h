// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>

/// Where the running program's packaged files are.
namespace kelvra::BundleLocation {

/// The running executable, resolved through its symbolic links; absent when the system does
/// not say.
std::optional<std::filesystem::path> executablePath();

/// "<directory of the executable>/../Resources" when that directory exists.
std::optional<std::filesystem::path> resourcesDirectory(const std::filesystem::path& executable);

}  // namespace kelvra::BundleLocation
