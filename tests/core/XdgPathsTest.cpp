// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "core/XdgPaths.h"

namespace kelvra {
namespace {

TEST(XdgPathsTest, UsesAbsoluteVariablesAndFallsBackToTheHomeDefaults) {
    // Empty or relative values are invalid and ignored.
    const Environment invalid{{"HOME", "/home/ada"},
                              {"XDG_CONFIG_HOME", ""},
                              {"XDG_DATA_HOME", "relative/data"},
                              {"XDG_STATE_HOME", "relative/state"},
                              {"XDG_RUNTIME_DIR", "run"}};
    EXPECT_EQ(XdgPaths::configHome(invalid), "/home/ada/.config");
    EXPECT_EQ(XdgPaths::dataHome(invalid), "/home/ada/.local/share");
    EXPECT_EQ(XdgPaths::stateHome(invalid), "/home/ada/.local/state");
    EXPECT_EQ(XdgPaths::runtimeDirectory(invalid), std::nullopt);

    const Environment set{{"XDG_CONFIG_HOME", "/c"},
                          {"XDG_DATA_HOME", "/d"},
                          {"XDG_STATE_HOME", "/s"},
                          {"XDG_RUNTIME_DIR", "/run/user/1000"}};
    EXPECT_EQ(XdgPaths::configHome(set), "/c");
    EXPECT_EQ(XdgPaths::dataHome(set), "/d");
    EXPECT_EQ(XdgPaths::stateHome(set), "/s");
    EXPECT_EQ(XdgPaths::runtimeDirectory(set), std::filesystem::path("/run/user/1000"));
}

TEST(XdgPathsTest, WithoutAUsableHomeTheUserDatabaseAnswers) {
    const auto home = XdgPaths::homeDirectory({{"HOME", "not/absolute"}});
    EXPECT_TRUE(home.is_absolute());
    EXPECT_EQ(XdgPaths::homeDirectory({}), home);
}

}  // namespace
}  // namespace kelvra
