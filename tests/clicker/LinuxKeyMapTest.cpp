// SPDX-License-Identifier: MIT
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <set>

#include "clicker/ClickerKeystroke.h"
#include "clicker/linux/LinuxKeyMap.h"

namespace kelvra {
namespace {

using namespace LinuxKeyMap;

TEST(LinuxKeyMapTest, EveryMappedKeyTranslatesBothWaysOnEveryPath) {
    std::set<uint16_t> evdevCodes;
    for (uint16_t keyCode = 0; keyCode < 128; ++keyCode) {
        const auto evdevCode = evdevCodeFromKeyCode(keyCode);
        if (!evdevCode) {
            continue;
        }
        EXPECT_TRUE(evdevCodes.insert(*evdevCode).second)
            << "evdev code used twice: " << *evdevCode;
        EXPECT_EQ(keyCodeFromEvdev(*evdevCode), keyCode);
        if (const auto xKeycode = xKeycodeFromKeyCode(keyCode)) {
            EXPECT_EQ(*xKeycode, *evdevCode + 8);
            EXPECT_EQ(keyCodeFromXKeycode(*xKeycode), keyCode);
        } else {
            EXPECT_GT(*evdevCode + 8, 255) << keyCode;
        }
        for (const uint32_t keysym : keysymsOfKeyCode(keyCode)) {
            EXPECT_EQ(keyCodeFromKeysym(keysym), keyCode) << std::hex << keysym;
        }
    }
}

TEST(LinuxKeyMapTest, TranslatesWhatClickersSend) {
    struct Row {
        const char* name;
        uint16_t evdevCode;
        std::optional<uint32_t> scanCode;
        uint16_t expected;
    };
    const Row rows[] = {
        {"Page Up", KEY_PAGEUP, std::nullopt, ClickerKeyCode::pageUp},
        {"Page Down, scan code ignored for a known key", KEY_PAGEDOWN, 0x70029, 121},
        {"blank as period", KEY_DOT, std::nullopt, 47},
        {"remapped period", KEY_PRESENTATION, 0x70037, 47},
        {"no scan code", KEY_PRESENTATION, std::nullopt, 0x8000 + KEY_PRESENTATION},
        {"unknown HID usage", KEY_DISPLAYTOGGLE, 0x700FF, 0x8000 + KEY_DISPLAYTOGGLE},
        {"function key", KEY_FN, std::nullopt, 63},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(keyCodeFromEvdev(row.evdevCode, row.scanCode), row.expected) << row.name;
    }
}

TEST(LinuxKeyMapTest, OutOfRangeCodesLeadBackToTheirKey) {
    EXPECT_EQ(evdevCodeFromKeyCode(0x8000 + KEY_PRESENTATION), KEY_PRESENTATION);
    EXPECT_EQ(xKeycodeFromKeyCode(0x8000 + KEY_PRESENTATION), std::nullopt);  // above 255
    EXPECT_EQ(xKeycodeFromKeyCode(0x8000 + KEY_PROG1), KEY_PROG1 + 8);
    EXPECT_EQ(keyCodeFromXKeycode(KEY_PROG1 + 8), 0x8000 + KEY_PROG1);
    // A mapped key never hides behind an out-of-range code, and codes between are nobody's.
    EXPECT_EQ(evdevCodeFromKeyCode(0x8000 + KEY_PAGEDOWN), std::nullopt);
    EXPECT_EQ(evdevCodeFromKeyCode(52 + 1000), std::nullopt);
    EXPECT_EQ(evdevCodeFromKeyCode(52), std::nullopt);  // no macOS key 52
}

TEST(LinuxKeyMapTest, KeysymFallbackIgnoresLetterCaseAndUnknownSymbols) {
    EXPECT_EQ(keyCodeFromKeysym(XK_A), 0);
    EXPECT_EQ(keyCodeFromKeysym(XK_Greek_alpha), std::nullopt);
    EXPECT_EQ(keyCodeFromKeysym(0), std::nullopt);
}

}  // namespace
}  // namespace kelvra
