// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "clicker/ClickerKeystroke.h"

namespace kelvra {

/// The result of interpreting one key-down while an assignment is being recorded.
struct ClickerKeystrokeInterpretation {
    enum class Kind {
        /// Escape: abandon the capture.
        cancel,
        /// A modifier key on its own: keep waiting for a real key.
        ignored,
        /// A recordable key, in `keystroke`.
        keystroke,
    };

    Kind kind = Kind::ignored;
    /// Present exactly when `kind` is `keystroke`.
    std::optional<ClickerKeystroke> keystroke;

    friend bool operator==(const ClickerKeystrokeInterpretation&,
                           const ClickerKeystrokeInterpretation&) = default;
};

/// Turns recorded key-downs into named keystrokes, and says which keys may be recorded.
/// Every function may be called from any thread.
namespace ClickerKeystrokeInterpreter {

/// `charactersIgnoringModifiers` is the UTF-8 text the key produces without modifiers, absent
/// when the platform has none. The modifier flags keep only shift, control, option and command.
ClickerKeystrokeInterpretation interpret(
    uint16_t keyCode, uint64_t modifierFlags,
    std::optional<std::string_view> charactersIgnoringModifiers);

/// False for Escape (53) and the modifier keys (54 through 63), true for every other code.
bool isRecordableKeyCode(uint16_t keyCode);

/// The fixed name of a key whose name must not depend on the keyboard layout ("Return",
/// "F5", "Page Up", …), absent for the keys named from their characters.
std::optional<std::string_view> specialKeyName(uint16_t keyCode);

/// The name of a key from the text it produces: " " is "Space", a tab "Tab", a carriage return
/// or line feed "Return"; other text is upper-cased with full case mapping ("ß" becomes "SS").
/// Absent for an absent or empty text, for text with a control or format character (Unicode
/// categories Cc and Cf), and for text that is not valid UTF-8.
std::optional<std::string> printableName(std::optional<std::string_view> text);

}  // namespace ClickerKeystrokeInterpreter
}  // namespace kelvra
