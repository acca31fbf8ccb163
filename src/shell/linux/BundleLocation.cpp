// SPDX-License-Identifier: MIT
#include "shell/BundleLocation.h"

namespace kelvra::BundleLocation {

std::optional<std::filesystem::path> executablePath() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || path.empty()) {
        return std::nullopt;
    }
    return path;
}

std::optional<std::filesystem::path> resourcesDirectory(const std::filesystem::path& executable) {
    const auto resources =
        (executable.parent_path().parent_path() / "Resources").lexically_normal();
    std::error_code error;
    if (!std::filesystem::is_directory(resources, error)) {
        return std::nullopt;
    }
    return resources;
}

}  // namespace kelvra::BundleLocation
