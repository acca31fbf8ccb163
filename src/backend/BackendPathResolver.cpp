// SPDX-License-Identifier: MIT
#include "backend/BackendPathResolver.h"

#include <sys/stat.h>
#include <unistd.h>

#include "core/Unicode.h"

namespace kelvra::BackendPathResolver {
namespace {

namespace fs = std::filesystem;

/// Lexically normalised, without the trailing separator a directory path may carry.
fs::path standardized(const fs::path& path) {
    fs::path normal = path.lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path()) {
        normal = normal.parent_path();
    }
    return normal;
}

fs::path absoluteStandardized(const fs::path& path) {
    std::error_code ignored;
    return standardized(path.is_absolute() ? path : fs::current_path(ignored) / path);
}

bool existsAsNonDirectory(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

// A directory named "node" has execute permission too, but could never be launched.
bool isExecutableFile(const fs::path& path) {
    return existsAsNonDirectory(path) && ::access(path.c_str(), X_OK) == 0;
}

std::expected<void, BackendPathError> requireFile(const fs::path& path,
                                                  const std::string& description, bool executable) {
    if (!existsAsNonDirectory(path)) {
        return std::unexpected(BackendPathError::missingFile(description, path));
    }
    if (executable && ::access(path.c_str(), X_OK) != 0) {
        return std::unexpected(BackendPathError::notExecutable(description, path));
    }
    return {};
}

std::expected<fs::path, BackendPathError> findDevelopmentNode(const Environment& environment) {
    const std::string searchPath = environmentValue(environment, "PATH").value_or("");
    size_t start = 0;
    while (true) {
        const size_t end = searchPath.find(':', start);
        const std::string piece = searchPath.substr(start, end - start);
        const fs::path candidate = absoluteStandardized(fs::path(piece) / "node");
        if (isExecutableFile(candidate)) {
            return candidate;
        }
        if (end == std::string::npos) {
            return std::unexpected(BackendPathError::missingDevelopmentNode());
        }
        start = end + 1;
    }
}

std::expected<BackendLaunchInfo, BackendPathError> resolveDevelopment(
    const std::string& developmentRoot, const Environment& environment) {
    // The root is used as typed: only the blank test above trims it.
    const fs::path root = absoluteStandardized(developmentRoot);
    const fs::path entryPoint = root / "server" / "desktop.js";
    if (!existsAsNonDirectory(entryPoint)) {
        return std::unexpected(
            BackendPathError::missingFile("shared desktop server entrypoint", entryPoint));
    }
    auto node = findDevelopmentNode(environment);
    if (!node) {
        return std::unexpected(node.error());
    }
    return BackendLaunchInfo{*node, entryPoint, root, true};
}

std::expected<BackendLaunchInfo, BackendPathError> resolvePackaged(
    const std::optional<fs::path>& resourcesDirectory) {
    if (!resourcesDirectory) {
        return std::unexpected(BackendPathError::missingResourcesDirectory());
    }
    const fs::path resources = absoluteStandardized(*resourcesDirectory);
    const fs::path node = resources.parent_path() / "Helpers" / "node";
    const fs::path applicationDirectory = resources / "app";
    const fs::path entryPoint = applicationDirectory / "server" / "desktop.js";
    if (auto found = requireFile(node, "bundled Node.js runtime", true); !found) {
        return std::unexpected(found.error());
    }
    if (auto found = requireFile(entryPoint, "packaged desktop server entrypoint", false); !found) {
        return std::unexpected(found.error());
    }
    return BackendLaunchInfo{node, entryPoint, applicationDirectory, false};
}

}  // namespace

std::expected<BackendLaunchInfo, BackendPathError> resolve(
    const std::optional<fs::path>& resourcesDirectory,
    const std::optional<std::string>& developmentRoot, const Environment& environment) {
    if (developmentRoot && !Unicode::trimmed(*developmentRoot).empty()) {
        return resolveDevelopment(*developmentRoot, environment);
    }
    return resolvePackaged(resourcesDirectory);
}

}  // namespace kelvra::BackendPathResolver
