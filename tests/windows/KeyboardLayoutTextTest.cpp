// SPDX-License-Identifier: MIT
#include <cstdlib>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "windows/KeyboardLayoutText.h"

namespace kelvra {
namespace {

struct LayoutCase {
    const char* layout;
    int evdevCode;
    std::optional<std::string> text;
};

class KeyboardLayoutTextTest : public ::testing::TestWithParam<LayoutCase> {
protected:
    // Offscreen there is no X server to ask, so the XKB defaults from the environment decide.
    void TearDown() override { unsetenv("XKB_DEFAULT_LAYOUT"); }
};

TEST_P(KeyboardLayoutTextTest, GivesTheUnshiftedTextOfTheKeyInTheLayout) {
    const LayoutCase& row = GetParam();
    setenv("XKB_DEFAULT_LAYOUT", row.layout, 1);
    EXPECT_EQ(unshiftedKeyText(static_cast<uint32_t>(row.evdevCode + 8)), row.text);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, KeyboardLayoutTextTest,
    ::testing::Values(LayoutCase{"us", KEY_Y, "y"}, LayoutCase{"de", KEY_Y, "z"},
                      LayoutCase{"fr", KEY_Q, "a"}, LayoutCase{"de", KEY_MINUS, "ß"},
                      LayoutCase{"us", KEY_DOT, "."}, LayoutCase{"us", KEY_PAGEDOWN, std::nullopt},
                      LayoutCase{"us", KEY_F5, std::nullopt}));

}  // namespace
}  // namespace kelvra
