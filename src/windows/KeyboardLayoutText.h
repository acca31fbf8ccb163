// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kelvra {

/// The text the key at `keycode` (an XKB keycode: the evdev code + 8, as Qt's native scan code
/// gives it) produces in the session's current keyboard layout with no modifier held: "a" for
/// the A key on a US layout, "z" for the same key on a German one. Absent when the key
/// produces no text or the layout cannot be read. Call on the main thread.
std::optional<std::string> unshiftedKeyText(uint32_t keycode);

}  // namespace kelvra
