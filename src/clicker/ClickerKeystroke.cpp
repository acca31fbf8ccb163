// SPDX-License-Identifier: MIT
#include "clicker/ClickerKeystroke.h"

namespace kelvra {

std::string ClickerKeystroke::displayName() const {
    std::string name;
    if (modifierFlags & ClickerModifierFlags::control) {
        name += "\u2303";
    }
    if (modifierFlags & ClickerModifierFlags::option) {
        name += "\u2325";
    }
    if (modifierFlags & ClickerModifierFlags::shift) {
        name += "\u21E7";
    }
    if (modifierFlags & ClickerModifierFlags::command) {
        name += "\u2318";
    }
    return name + baseDisplayName;
}

}  // namespace kelvra
