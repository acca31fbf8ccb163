// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>

namespace kelvra {

/// Where the backend's runtime, entry point and working directory are.
struct BackendLaunchInfo {
    std::filesystem::path nodePath;
    std::filesystem::path entryPointPath;
    std::filesystem::path workingDirectory;
    /// Resolved from a development checkout; the backend then runs with NODE_ENV=development.
    bool isDevelopment = false;

    friend bool operator==(const BackendLaunchInfo&, const BackendLaunchInfo&) = default;
};

}  // namespace kelvra
