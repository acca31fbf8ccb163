// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace kelvra {

/// Linux key codes to the application's key codes and back, with one table for every keyboard
/// path: evdev codes (device tap), X keycodes (X11 tap, `QKeyEvent::nativeScanCode`) and, where
/// the X keycode set is not evdev's, X keysyms. Matching by position keeps a clicker's keys stable
/// across layouts. Every function may be called from any thread and never allocates.
namespace LinuxKeyMap {

/// Keys the table does not name get this base plus their evdev code, outside every code the
/// table uses, so they can still be recorded (as "Key Code <code>").
inline constexpr uint16_t outOfRangeBase = 0x8000;
/// On evdev-based keymaps (Xorg with libinput or evdev, XWayland, Xvfb) an X keycode is the
/// evdev code plus this.
inline constexpr uint16_t xKeycodeOffset = 8;
/// The USB HID keyboard page as it appears in `MSC_SCAN` values (0x7xxxx).
inline constexpr uint32_t hidKeyboardPage = 0x70000;

/// The application key code of an evdev key. `scanCode` is the `MSC_SCAN` value of the same
/// frame when it carried one; it names keys that the system's hardware database remapped to
/// codes the table lacks (`KEY_PRESENTATION` from a clicker's start button). Without a table
/// entry either way the answer is `outOfRangeBase` + the evdev code.
uint16_t keyCodeFromEvdev(uint16_t evdevCode, std::optional<uint32_t> scanCode = std::nullopt);

/// The evdev code that `keyCodeFromEvdev` turns into `keyCode` without a scan code, if any.
std::optional<uint16_t> evdevCodeFromKeyCode(uint16_t keyCode);

/// The application key code of an X keycode on an evdev-based keymap.
uint16_t keyCodeFromXKeycode(uint8_t xKeycode);

/// The X keycode of `keyCode` on an evdev-based keymap, absent when it has none below 256.
std::optional<uint8_t> xKeycodeFromKeyCode(uint16_t keyCode);

/// For keymaps whose keycodes are not evdev's: the application key code of a keysym.
std::optional<uint16_t> keyCodeFromKeysym(uint32_t keysym);

/// The keysyms (one or two) that stand for `keyCode` on such keymaps; empty when it has none.
std::span<const uint32_t> keysymsOfKeyCode(uint16_t keyCode);

/// The modifier bit (shift, control, option or command) that an evdev modifier key holds, or 0.
uint64_t modifierFlagOfEvdev(uint16_t evdevCode);

}  // namespace LinuxKeyMap
}  // namespace kelvra
