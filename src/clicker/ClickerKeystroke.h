// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kelvra {

/// The virtual key codes the Clicker Distributor names (the macOS codes, which the keyboard
/// backends translate into).
namespace ClickerKeyCode {
inline constexpr uint16_t escape = 53;
inline constexpr uint16_t pageUp = 116;
inline constexpr uint16_t pageDown = 121;
/// 54 right command … 63 function: the keys that only modify others.
inline constexpr uint16_t firstModifier = 54;
inline constexpr uint16_t lastModifier = 63;

constexpr bool isModifier(uint16_t keyCode) {
    return keyCode >= firstModifier && keyCode <= lastModifier;
}
}  // namespace ClickerKeyCode

/// Device-independent modifier bits of a key event.
namespace ClickerModifierFlags {
inline constexpr uint64_t capitalsLock = 0x10000;
inline constexpr uint64_t shift = 0x20000;
inline constexpr uint64_t control = 0x40000;
inline constexpr uint64_t option = 0x80000;
inline constexpr uint64_t command = 0x100000;
/// The only bits a keystroke holds: shift, control, option and command.
inline constexpr uint64_t recordable = shift | control | option | command;
}  // namespace ClickerModifierFlags

/// One recordable key with its modifiers. Identity is the key code and the modifier bits;
/// the name is carried along for display and takes no part in equality or hashing.
struct ClickerKeystroke {
    uint16_t keyCode = 0;
    /// Only the bits of `ClickerModifierFlags::recordable`, as the interpreter records them.
    uint64_t modifierFlags = 0;
    /// The key's name without modifiers: "Page Up", "A", "Key Code 10".
    std::string baseDisplayName;

    /// The modifier glyphs ⌃⌥⇧⌘ of the bits that are set, in that order, then the base name.
    std::string displayName() const;

    friend bool operator==(const ClickerKeystroke& left, const ClickerKeystroke& right) {
        return left.keyCode == right.keyCode && left.modifierFlags == right.modifierFlags;
    }
};

}  // namespace kelvra

template <>
struct std::hash<kelvra::ClickerKeystroke> {
    size_t operator()(const kelvra::ClickerKeystroke& keystroke) const noexcept {
        return std::hash<uint64_t>{}(keystroke.modifierFlags ^
                                     (static_cast<uint64_t>(keystroke.keyCode) << 48));
    }
};
