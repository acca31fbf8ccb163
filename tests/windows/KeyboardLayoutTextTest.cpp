// SPDX-License-Identifier: MIT
#include <cstdlib>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "windows/KeyboardLayoutText.h"

namespace kelvra {
namespace {

// Offscreen there is no X server to ask, so the XKB defaults from the environment decide.
TEST(KeyboardLayoutTextTest, GivesTheUnshiftedTextOfTheKeyInTheLayout) {
    const struct {
        const char* layout;
        int evdevCode;
        std::optional<std::string> text;
    } rows[] = {{"us", KEY_Y, "y"},          {"de", KEY_Y, "z"},
                {"fr", KEY_Q, "a"},          {"de", KEY_MINUS, "ß"},
                {"us", KEY_DOT, "."},        {"us", KEY_PAGEDOWN, std::nullopt},
                {"us", KEY_F5, std::nullopt}};
    for (const auto& row : rows) {
        setenv("XKB_DEFAULT_LAYOUT", row.layout, 1);
        EXPECT_EQ(unshiftedKeyText(static_cast<uint32_t>(row.evdevCode + 8)), row.text)
            << row.layout << " " << row.evdevCode;
    }
    unsetenv("XKB_DEFAULT_LAYOUT");
}

}  // namespace
}  // namespace kelvra
