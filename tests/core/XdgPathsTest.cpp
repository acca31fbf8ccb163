// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "core/XdgPaths.h"

namespace kelvra {
namespace {

TEST(XdgPathsTest, UsesAbsoluteVariablesAndFallsBackToTheHomeDefaults) {
    using Paths = std::vector<std::optional<std::filesystem::path>>;
    const auto paths = [](const Environment& environment) {
        return Paths{XdgPaths::configHome(environment), XdgPaths::dataHome(environment),
                     XdgPaths::stateHome(environment), XdgPaths::runtimeDirectory(environment)};
    };
    // Empty or relative values are invalid and ignored.
    EXPECT_EQ(paths({{"HOME", "/home/ada"},
                     {"XDG_CONFIG_HOME", ""},
                     {"XDG_DATA_HOME", "relative/data"},
                     {"XDG_STATE_HOME", "relative/state"},
                     {"XDG_RUNTIME_DIR", "run"}}),
              (Paths{"/home/ada/.config", "/home/ada/.local/share", "/home/ada/.local/state",
                     std::nullopt}));
    EXPECT_EQ(paths({{"XDG_CONFIG_HOME", "/c"},
                     {"XDG_DATA_HOME", "/d"},
                     {"XDG_STATE_HOME", "/s"},
                     {"XDG_RUNTIME_DIR", "/run/user/1000"}}),
              (Paths{"/c", "/d", "/s", "/run/user/1000"}));
}

TEST(XdgPathsTest, WithoutAUsableHomeTheUserDatabaseAnswers) {
    const auto home = XdgPaths::homeDirectory({{"HOME", "not/absolute"}});
    EXPECT_TRUE(home.is_absolute());
    EXPECT_EQ(XdgPaths::homeDirectory({}), home);
}

}  // namespace
}  // namespace kelvra
