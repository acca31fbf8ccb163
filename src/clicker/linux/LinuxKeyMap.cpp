// SPDX-License-Identifier: MIT
#include "clicker/linux/LinuxKeyMap.h"

#include <X11/XF86keysym.h>
#include <array>
#include <linux/input-event-codes.h>

#include "clicker/ClickerKeystroke.h"

#define XK_MISCELLANY
#define XK_LATIN1
#define XK_XKB_KEYS
#include <X11/keysymdef.h>

namespace kelvra::LinuxKeyMap {
namespace {

struct Row {
    uint16_t keyCode;
    uint16_t evdevCode;
    uint8_t hidUsage;                 // 0 when the key has none
    std::array<uint32_t, 2> keysyms;  // unused slots are 0
};

// KEYMAP.md, row by row.
constexpr Row kRows[] = {
    {0, KEY_A, 0x04, {XK_a, 0}},                                // ANSI_A
    {1, KEY_S, 0x16, {XK_s, 0}},                                // ANSI_S
    {2, KEY_D, 0x07, {XK_d, 0}},                                // ANSI_D
    {3, KEY_F, 0x09, {XK_f, 0}},                                // ANSI_F
    {4, KEY_H, 0x0B, {XK_h, 0}},                                // ANSI_H
    {5, KEY_G, 0x0A, {XK_g, 0}},                                // ANSI_G
    {6, KEY_Z, 0x1D, {XK_z, 0}},                                // ANSI_Z
    {7, KEY_X, 0x1B, {XK_x, 0}},                                // ANSI_X
    {8, KEY_C, 0x06, {XK_c, 0}},                                // ANSI_C
    {9, KEY_V, 0x19, {XK_v, 0}},                                // ANSI_V
    {10, KEY_102ND, 0x64, {XK_less, 0}},                        // ISO_Section
    {11, KEY_B, 0x05, {XK_b, 0}},                               // ANSI_B
    {12, KEY_Q, 0x14, {XK_q, 0}},                               // ANSI_Q
    {13, KEY_W, 0x1A, {XK_w, 0}},                               // ANSI_W
    {14, KEY_E, 0x08, {XK_e, 0}},                               // ANSI_E
    {15, KEY_R, 0x15, {XK_r, 0}},                               // ANSI_R
    {16, KEY_Y, 0x1C, {XK_y, 0}},                               // ANSI_Y
    {17, KEY_T, 0x17, {XK_t, 0}},                               // ANSI_T
    {18, KEY_1, 0x1E, {XK_1, 0}},                               // ANSI_1
    {19, KEY_2, 0x1F, {XK_2, 0}},                               // ANSI_2
    {20, KEY_3, 0x20, {XK_3, 0}},                               // ANSI_3
    {21, KEY_4, 0x21, {XK_4, 0}},                               // ANSI_4
    {22, KEY_6, 0x23, {XK_6, 0}},                               // ANSI_6
    {23, KEY_5, 0x22, {XK_5, 0}},                               // ANSI_5
    {24, KEY_EQUAL, 0x2E, {XK_equal, 0}},                       // ANSI_Equal
    {25, KEY_9, 0x26, {XK_9, 0}},                               // ANSI_9
    {26, KEY_7, 0x24, {XK_7, 0}},                               // ANSI_7
    {27, KEY_MINUS, 0x2D, {XK_minus, 0}},                       // ANSI_Minus
    {28, KEY_8, 0x25, {XK_8, 0}},                               // ANSI_8
    {29, KEY_0, 0x27, {XK_0, 0}},                               // ANSI_0
    {30, KEY_RIGHTBRACE, 0x30, {XK_bracketright, 0}},           // ANSI_RightBracket
    {31, KEY_O, 0x12, {XK_o, 0}},                               // ANSI_O
    {32, KEY_U, 0x18, {XK_u, 0}},                               // ANSI_U
    {33, KEY_LEFTBRACE, 0x2F, {XK_bracketleft, 0}},             // ANSI_LeftBracket
    {34, KEY_I, 0x0C, {XK_i, 0}},                               // ANSI_I
    {35, KEY_P, 0x13, {XK_p, 0}},                               // ANSI_P
    {36, KEY_ENTER, 0x28, {XK_Return, 0}},                      // Return
    {37, KEY_L, 0x0F, {XK_l, 0}},                               // ANSI_L
    {38, KEY_J, 0x0D, {XK_j, 0}},                               // ANSI_J
    {39, KEY_APOSTROPHE, 0x34, {XK_apostrophe, 0}},             // ANSI_Quote
    {40, KEY_K, 0x0E, {XK_k, 0}},                               // ANSI_K
    {41, KEY_SEMICOLON, 0x33, {XK_semicolon, 0}},               // ANSI_Semicolon
    {42, KEY_BACKSLASH, 0x31, {XK_backslash, 0}},               // ANSI_Backslash
    {43, KEY_COMMA, 0x36, {XK_comma, 0}},                       // ANSI_Comma
    {44, KEY_SLASH, 0x38, {XK_slash, 0}},                       // ANSI_Slash
    {45, KEY_N, 0x11, {XK_n, 0}},                               // ANSI_N
    {46, KEY_M, 0x10, {XK_m, 0}},                               // ANSI_M
    {47, KEY_DOT, 0x37, {XK_period, 0}},                        // ANSI_Period
    {48, KEY_TAB, 0x2B, {XK_Tab, 0}},                           // Tab
    {49, KEY_SPACE, 0x2C, {XK_space, 0}},                       // Space
    {50, KEY_GRAVE, 0x35, {XK_grave, 0}},                       // ANSI_Grave
    {51, KEY_BACKSPACE, 0x2A, {XK_BackSpace, 0}},               // Delete(Backspace)
    {53, KEY_ESC, 0x29, {XK_Escape, 0}},                        // Escape
    {54, KEY_RIGHTMETA, 0xE7, {XK_Super_R, 0}},                 // RightCommand
    {55, KEY_LEFTMETA, 0xE3, {XK_Super_L, 0}},                  // Command
    {56, KEY_LEFTSHIFT, 0xE1, {XK_Shift_L, 0}},                 // Shift
    {57, KEY_CAPSLOCK, 0x39, {XK_Caps_Lock, 0}},                // CapsLock
    {58, KEY_LEFTALT, 0xE2, {XK_Alt_L, 0}},                     // Option
    {59, KEY_LEFTCTRL, 0xE0, {XK_Control_L, 0}},                // Control
    {60, KEY_RIGHTSHIFT, 0xE5, {XK_Shift_R, 0}},                // RightShift
    {61, KEY_RIGHTALT, 0xE6, {XK_Alt_R, XK_ISO_Level3_Shift}},  // RightOption
    {62, KEY_RIGHTCTRL, 0xE4, {XK_Control_R, 0}},               // RightControl
    {63, KEY_FN, 0, {0, 0}},                                    // Function
    {64, KEY_F17, 0x6C, {XK_F17, 0}},                           // F17
    {65, KEY_KPDOT, 0x63, {XK_KP_Decimal, XK_KP_Delete}},       // KP_Decimal
    {67, KEY_KPASTERISK, 0x55, {XK_KP_Multiply, 0}},            // KP_Multiply
    {69, KEY_KPPLUS, 0x57, {XK_KP_Add, 0}},                     // KP_Plus
    {71, KEY_NUMLOCK, 0x53, {XK_Num_Lock, XK_Clear}},           // KP_Clear
    {72, KEY_VOLUMEUP, 0x80, {XF86XK_AudioRaiseVolume, 0}},     // VolumeUp
    {73, KEY_VOLUMEDOWN, 0x81, {XF86XK_AudioLowerVolume, 0}},   // VolumeDown
    {74, KEY_MUTE, 0x7F, {XF86XK_AudioMute, 0}},                // Mute
    {75, KEY_KPSLASH, 0x54, {XK_KP_Divide, 0}},                 // KP_Divide
    {76, KEY_KPENTER, 0x58, {XK_KP_Enter, 0}},                  // KP_Enter
    {78, KEY_KPMINUS, 0x56, {XK_KP_Subtract, 0}},               // KP_Minus
    {79, KEY_F18, 0x6D, {XK_F18, 0}},                           // F18
    {80, KEY_F19, 0x6E, {XK_F19, 0}},                           // F19
    {81, KEY_KPEQUAL, 0x67, {XK_KP_Equal, 0}},                  // KP_Equals
    {82, KEY_KP0, 0x62, {XK_KP_0, XK_KP_Insert}},               // KP_0
    {83, KEY_KP1, 0x59, {XK_KP_1, XK_KP_End}},                  // KP_1
    {84, KEY_KP2, 0x5A, {XK_KP_2, XK_KP_Down}},                 // KP_2
    {85, KEY_KP3, 0x5B, {XK_KP_3, XK_KP_Next}},                 // KP_3
    {86, KEY_KP4, 0x5C, {XK_KP_4, XK_KP_Left}},                 // KP_4
    {87, KEY_KP5, 0x5D, {XK_KP_5, XK_KP_Begin}},                // KP_5
    {88, KEY_KP6, 0x5E, {XK_KP_6, XK_KP_Right}},                // KP_6
    {89, KEY_KP7, 0x5F, {XK_KP_7, XK_KP_Home}},                 // KP_7
    {90, KEY_F20, 0x6F, {XK_F20, 0}},                           // F20
    {91, KEY_KP8, 0x60, {XK_KP_8, XK_KP_Up}},                   // KP_8
    {92, KEY_KP9, 0x61, {XK_KP_9, XK_KP_Prior}},                // KP_9
    {96, KEY_F5, 0x3E, {XK_F5, 0}},                             // F5
    {97, KEY_F6, 0x3F, {XK_F6, 0}},                             // F6
    {98, KEY_F7, 0x40, {XK_F7, 0}},                             // F7
    {99, KEY_F3, 0x3C, {XK_F3, 0}},                             // F3
    {100, KEY_F8, 0x41, {XK_F8, 0}},                            // F8
    {101, KEY_F9, 0x42, {XK_F9, 0}},                            // F9
    {103, KEY_F11, 0x44, {XK_F11, 0}},                          // F11
    {105, KEY_F13, 0x68, {XK_F13, 0}},                          // F13
    {106, KEY_F16, 0x6B, {XK_F16, 0}},                          // F16
    {107, KEY_F14, 0x69, {XK_F14, 0}},                          // F14
    {109, KEY_F10, 0x43, {XK_F10, 0}},                          // F10
    {110, KEY_COMPOSE, 0x65, {XK_Menu, 0}},                     // ContextualMenu
    {111, KEY_F12, 0x45, {XK_F12, 0}},                          // F12
    {113, KEY_F15, 0x6A, {XK_F15, 0}},                          // F15
    {114, KEY_INSERT, 0x49, {XK_Insert, XK_Help}},              // Help(Insert)
    {115, KEY_HOME, 0x4A, {XK_Home, 0}},                        // Home
    {116, KEY_PAGEUP, 0x4B, {XK_Prior, 0}},                     // PageUp
    {117, KEY_DELETE, 0x4C, {XK_Delete, 0}},                    // ForwardDelete
    {118, KEY_F4, 0x3D, {XK_F4, 0}},                            // F4
    {119, KEY_END, 0x4D, {XK_End, 0}},                          // End
    {120, KEY_F2, 0x3B, {XK_F2, 0}},                            // F2
    {121, KEY_PAGEDOWN, 0x4E, {XK_Next, 0}},                    // PageDown
    {122, KEY_F1, 0x3A, {XK_F1, 0}},                            // F1
    {123, KEY_LEFT, 0x50, {XK_Left, 0}},                        // LeftArrow
    {124, KEY_RIGHT, 0x4F, {XK_Right, 0}},                      // RightArrow
    {125, KEY_DOWN, 0x51, {XK_Down, 0}},                        // DownArrow
    {126, KEY_UP, 0x52, {XK_Up, 0}},                            // UpArrow
};

constexpr uint16_t kNone = 0xFFFF;
constexpr size_t kEvdevCount = KEY_CNT;
constexpr size_t kKeyCodeCount = 128;

template <size_t N, typename Index>
constexpr std::array<uint16_t, N> indexRows(Index index, uint16_t Row::*value) {
    std::array<uint16_t, N> table{};
    table.fill(kNone);
    for (const Row& row : kRows) {
        const size_t position = index(row);
        if (position < N) {
            table[position] = row.*value;
        }
    }
    return table;
}

constexpr auto kByEvdev =
    indexRows<kEvdevCount>([](const Row& row) { return size_t{row.evdevCode}; }, &Row::keyCode);
constexpr auto kByHid = indexRows<256>(
    [](const Row& row) { return row.hidUsage == 0 ? size_t{256} : size_t{row.hidUsage}; },
    &Row::keyCode);
constexpr auto kEvdevByKeyCode =
    indexRows<kKeyCodeCount>([](const Row& row) { return size_t{row.keyCode}; }, &Row::evdevCode);

constexpr const Row* rowOf(uint16_t keyCode) {
    for (const Row& row : kRows) {
        if (row.keyCode == keyCode) {
            return &row;
        }
    }
    return nullptr;
}

}  // namespace

uint16_t keyCodeFromEvdev(uint16_t evdevCode, std::optional<uint32_t> scanCode) {
    if (evdevCode < kEvdevCount && kByEvdev[evdevCode] != kNone) {
        return kByEvdev[evdevCode];
    }
    if (scanCode && (*scanCode & 0xFFFF0000u) == hidKeyboardPage && (*scanCode & 0xFFFFu) < 256) {
        const uint16_t fromHid = kByHid[*scanCode & 0xFFu];
        if (fromHid != kNone) {
            return fromHid;
        }
    }
    return static_cast<uint16_t>(outOfRangeBase + evdevCode);
}

std::optional<uint16_t> evdevCodeFromKeyCode(uint16_t keyCode) {
    if (keyCode < kKeyCodeCount && kEvdevByKeyCode[keyCode] != kNone) {
        return kEvdevByKeyCode[keyCode];
    }
    if (keyCode >= outOfRangeBase) {
        const auto evdevCode = static_cast<uint16_t>(keyCode - outOfRangeBase);
        if (evdevCode < kEvdevCount && kByEvdev[evdevCode] == kNone) {
            return evdevCode;
        }
    }
    return std::nullopt;
}

uint16_t keyCodeFromXKeycode(uint8_t xKeycode) {
    // X keycodes start at 8; anything lower is no key.
    if (xKeycode < xKeycodeOffset) {
        return outOfRangeBase;
    }
    return keyCodeFromEvdev(static_cast<uint16_t>(xKeycode - xKeycodeOffset));
}

std::optional<uint8_t> xKeycodeFromKeyCode(uint16_t keyCode) {
    const auto evdevCode = evdevCodeFromKeyCode(keyCode);
    if (!evdevCode || *evdevCode + xKeycodeOffset > 255) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(*evdevCode + xKeycodeOffset);
}

std::optional<uint16_t> keyCodeFromKeysym(uint32_t keysym) {
    if (keysym == 0) {
        return std::nullopt;
    }
    // Keysyms of letters come upper-cased from some keymaps' second level.
    const uint32_t lower = keysym >= XK_A && keysym <= XK_Z ? keysym - XK_A + XK_a : keysym;
    for (const Row& row : kRows) {
        if (row.keysyms[0] == lower || row.keysyms[1] == lower) {
            return row.keyCode;
        }
    }
    return std::nullopt;
}

std::span<const uint32_t> keysymsOfKeyCode(uint16_t keyCode) {
    const Row* row = rowOf(keyCode);
    if (row == nullptr || row->keysyms[0] == 0) {
        return {};
    }
    return {row->keysyms.data(), row->keysyms[1] == 0 ? size_t{1} : size_t{2}};
}

uint64_t modifierFlagOfEvdev(uint16_t evdevCode) {
    switch (evdevCode) {
        case KEY_LEFTSHIFT:
        case KEY_RIGHTSHIFT:
            return ClickerModifierFlags::shift;
        case KEY_LEFTCTRL:
        case KEY_RIGHTCTRL:
            return ClickerModifierFlags::control;
        case KEY_LEFTALT:
        case KEY_RIGHTALT:
            return ClickerModifierFlags::option;
        case KEY_LEFTMETA:
        case KEY_RIGHTMETA:
            return ClickerModifierFlags::command;
        default:
            return 0;
    }
}

}  // namespace kelvra::LinuxKeyMap
