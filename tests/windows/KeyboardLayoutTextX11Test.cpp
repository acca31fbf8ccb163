// SPDX-License-Identifier: MIT
// Runs under its own Xvfb (see CMakeLists.txt): the layout text must come from the X server.
#include <cstdlib>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "windows/KeyboardLayoutText.h"

namespace kelvra {
namespace {

TEST(KeyboardLayoutTextX11Test, FollowsTheXServersKeymapRatherThanTheEnvironment) {
    // Xvfb's keymap is US; a German default in the environment must not win over it.
    setenv("XKB_DEFAULT_LAYOUT", "de", 1);
    EXPECT_EQ(unshiftedKeyText(KEY_Y + 8), "y");
    EXPECT_EQ(unshiftedKeyText(KEY_MINUS + 8), "-");
    unsetenv("XKB_DEFAULT_LAYOUT");
}

}  // namespace
}  // namespace kelvra
