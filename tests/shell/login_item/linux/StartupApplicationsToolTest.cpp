// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "core/Environment.h"
#include "shell/login_item/linux/StartupApplicationsTool.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

TEST(StartupApplicationsToolTest, PrefersTheCurrentDesktopsTool) {
    testing::TemporaryDirectory bin;
    for (const char* tool :
         {"gnome-session-properties", "systemsettings", "xfce4-session-settings"}) {
        testing::writeExecutable(bin.path() / tool);
    }
    const std::string path = "relative:" + bin.path().string();
    using Command = std::optional<std::vector<std::string>>;
    const auto at = [&](const std::string& tool) { return (bin.path() / tool).string(); };
    const struct {
        Environment environment;
        Command command;
    } rows[] = {
        {{{"PATH", path}, {"XDG_CURRENT_DESKTOP", "KDE"}},
         std::vector<std::string>{at("systemsettings"), "kcm_autostart"}},
        {{{"PATH", path}, {"XDG_CURRENT_DESKTOP", "ubuntu:XFCE"}},
         std::vector<std::string>{at("xfce4-session-settings")}},
        {{{"PATH", path}, {"XDG_CURRENT_DESKTOP", "MATE"}},
         std::vector<std::string>{at("gnome-session-properties")}},
        {{{"PATH", path}}, std::vector<std::string>{at("gnome-session-properties")}},
        {{{"PATH", "/nonexistent"}, {"XDG_CURRENT_DESKTOP", "GNOME"}}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(environmentValue(row.environment, "XDG_CURRENT_DESKTOP").value_or("none"));
        EXPECT_EQ(StartupApplicationsTool::command(row.environment), row.command);
    }
}

}  // namespace
}  // namespace kelvra
