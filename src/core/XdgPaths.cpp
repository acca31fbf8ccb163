// SPDX-License-Identifier: MIT
#include "core/XdgPaths.h"

#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace kelvra::XdgPaths {
namespace {

std::optional<std::filesystem::path> absoluteValue(const Environment& environment,
                                                   const std::string& name) {
    const auto value = environmentValue(environment, name);
    if (!value || value->empty() || value->front() != '/') {
        return std::nullopt;
    }
    return std::filesystem::path(*value);
}

std::filesystem::path userDatabaseHome() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr && result->pw_dir[0] == '/') {
        return result->pw_dir;
    }
    return "/";
}

}  // namespace

std::filesystem::path homeDirectory(const Environment& environment) {
    return absoluteValue(environment, "HOME").value_or(userDatabaseHome());
}

std::filesystem::path configHome(const Environment& environment) {
    return absoluteValue(environment, "XDG_CONFIG_HOME")
        .value_or(homeDirectory(environment) / ".config");
}

std::filesystem::path dataHome(const Environment& environment) {
    return absoluteValue(environment, "XDG_DATA_HOME")
        .value_or(homeDirectory(environment) / ".local" / "share");
}

std::filesystem::path stateHome(const Environment& environment) {
    return absoluteValue(environment, "XDG_STATE_HOME")
        .value_or(homeDirectory(environment) / ".local" / "state");
}

std::optional<std::filesystem::path> runtimeDirectory(const Environment& environment) {
    return absoluteValue(environment, "XDG_RUNTIME_DIR");
}

std::filesystem::path applicationDirectory(const std::filesystem::path& base) {
    return base / "Morvane" / "Kelvra Hub";
}

}  // namespace kelvra::XdgPaths
