// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "core/Environment.h"
#include "shell/login_item/LoginItemService.h"

namespace kelvra {

/// The login item as an XDG autostart entry. Not registered: there is no entry file. Enabled:
/// the file is there and not switched off. Requires approval: the file is there but the user
/// switched it off in the desktop's startup settings ("Hidden=true" or
/// "X-GNOME-Autostart-enabled=false"). Not found: there is no file and the executable to start
/// cannot be determined.
class MainAppLoginItemService final : public LoginItemService {
public:
    /// The desktop application id, which names the entry file.
    static constexpr const char* kDesktopApplicationId = "com.morvane.KelvraHub";

    /// "$XDG_CONFIG_HOME/autostart/com.morvane.KelvraHub.desktop".
    static std::filesystem::path defaultEntryPath(const Environment& environment);

    /// The service for the running executable and the default entry.
    static std::unique_ptr<MainAppLoginItemService> createDefault(
        const Environment& environment = currentEnvironment());

    /// `executable` is what the entry starts, by its absolute path; absent or not an executable
    /// file means it cannot be determined. `environment` gives the PATH on which the desktop's
    /// startup settings tool is looked for.
    MainAppLoginItemService(std::filesystem::path entryPath,
                            std::optional<std::filesystem::path> executable,
                            Environment environment);

    const std::filesystem::path& entryPath() const { return entryPath_; }

    LoginItemStatus status() const override;

    /// Writes the entry, replacing the file atomically; an existing entry keeps everything but
    /// its Exec and the keys that switched it off (see `DesktopEntry::enabledEntry`).
    std::expected<void, LoginItemError> registerItem() override;

    /// Removes the entry; an entry that is not there is no failure.
    std::expected<void, LoginItemError> unregister() override;

    /// Starts the desktop's startup-applications tool when one is installed.
    void openSystemSettingsLoginItems() override;

private:
    bool executableIsUsable() const;

    const std::filesystem::path entryPath_;
    const std::optional<std::filesystem::path> executable_;
    const Environment environment_;
};

}  // namespace kelvra
