// SPDX-License-Identifier: MIT
#include "shell/login_item/linux/StartupApplicationsTool.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "core/SpawnAttributes.h"

extern char** environ;

namespace kelvra::StartupApplicationsTool {
namespace {

struct Tool {
    /// Lower-case `XDG_CURRENT_DESKTOP` names of the desktops the tool belongs to.
    std::vector<std::string_view> desktops;
    std::vector<std::string> command;
};

const std::vector<Tool>& knownTools() {
    static const std::vector<Tool> tools = {
        {{"gnome", "unity", "budgie", "pantheon"}, {"gnome-session-properties"}},
        {{"kde"}, {"systemsettings", "kcm_autostart"}},
        {{"kde"}, {"kcmshell6", "kcm_autostart"}},
        {{"kde"}, {"kcmshell5", "autostart"}},
        {{"xfce"}, {"xfce4-session-settings"}},
        {{"x-cinnamon", "cinnamon"}, {"cinnamon-session-properties"}},
        {{"mate"}, {"mate-session-properties"}},
        {{"lxqt"}, {"lxqt-config-session"}},
    };
    return tools;
}

std::vector<std::string> currentDesktops(const Environment& environment) {
    std::vector<std::string> desktops;
    std::string value = environmentValue(environment, "XDG_CURRENT_DESKTOP").value_or("");
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    size_t start = 0;
    while (start <= value.size()) {
        const auto end = std::min(value.find(':', start), value.size());
        if (end > start) {
            desktops.push_back(value.substr(start, end - start));
        }
        start = end + 1;
    }
    return desktops;
}

std::optional<std::filesystem::path> findOnPath(const std::string& program,
                                                const Environment& environment) {
    const std::string path = environmentValue(environment, "PATH").value_or("");
    size_t start = 0;
    while (start <= path.size()) {
        const auto end = std::min(path.find(':', start), path.size());
        const std::string directory = path.substr(start, end - start);
        // An empty or relative entry would depend on our working directory; skip it.
        if (!directory.empty() && directory.front() == '/') {
            const auto candidate = std::filesystem::path(directory) / program;
            std::error_code error;
            if (std::filesystem::is_regular_file(candidate, error) &&
                ::access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
        }
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::string>> command(const Environment& environment) {
    const auto desktops = currentDesktops(environment);
    const auto belongsHere = [&](const Tool& tool) {
        return std::any_of(tool.desktops.begin(), tool.desktops.end(), [&](std::string_view name) {
            return std::find(desktops.begin(), desktops.end(), name) != desktops.end();
        });
    };
    for (const bool ownDesktop : {true, false}) {
        for (const auto& tool : knownTools()) {
            if (ownDesktop && !belongsHere(tool)) {
                continue;
            }
            if (const auto program = findOnPath(tool.command.front(), environment)) {
                auto resolved = tool.command;
                resolved.front() = program->string();
                return resolved;
            }
        }
    }
    return std::nullopt;
}

bool launch(const std::vector<std::string>& command) {
    if (command.empty()) {
        return false;
    }
    std::vector<std::string> texts = command;
    auto arguments = spawnVector(texts);
    // Its own session, so closing the application leaves the tool open.
    SpawnAttributes attributes(POSIX_SPAWN_SETSID);
    pid_t child = 0;
    const int result = ::posix_spawn(&child, arguments.front(), nullptr, attributes.get(),
                                     arguments.data(), environ);
    if (result != 0) {
        return false;
    }
    // Reaps the tool whenever the user closes it, so it never lingers as a zombie.
    std::thread([child] {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

}  // namespace kelvra::StartupApplicationsTool
