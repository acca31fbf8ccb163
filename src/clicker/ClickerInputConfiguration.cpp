// SPDX-License-Identifier: MIT
#include "clicker/ClickerInputConfiguration.h"

#include <algorithm>
#include <unordered_set>

namespace kelvra {
namespace {

bool matches(const ClickerKeystroke& keystroke, uint16_t keyCode, uint64_t modifierFlags) {
    return keystroke.keyCode == keyCode && keystroke.modifierFlags == modifierFlags;
}

}  // namespace

std::string_view rawValue(ClickerMappingAction action) {
    return action == ClickerMappingAction::previous ? "Previous" : "Next";
}

std::optional<ClickerMappingAction> clickerMappingActionFromRawValue(std::string_view rawValue) {
    if (rawValue == "Previous") {
        return ClickerMappingAction::previous;
    }
    if (rawValue == "Next") {
        return ClickerMappingAction::next;
    }
    return std::nullopt;
}

std::string recorderFieldIdentifier(ClickerMappingAction action) {
    return action == ClickerMappingAction::previous ? "previousKeyField" : "nextKeyField";
}

std::string accessibilityName(ClickerMappingAction action) {
    return std::string(rawValue(action)) + " slide";
}

// Out of line: inlined into callers, GCC 12's sanitizer builds report the empty keystroke
// as "may be used uninitialized".
CustomClickerAssignment::CustomClickerAssignment(Uuid id,
                                                 std::optional<ClickerCustomAction> initialAction,
                                                 std::optional<ClickerKeystroke> initialKeystroke)
    : action(initialAction), keystroke(std::move(initialKeystroke)), id_(id) {}

const ClickerInputConfiguration& ClickerInputConfiguration::defaults() {
    static const ClickerInputConfiguration configuration{
        ClickerKeystroke{ClickerKeyCode::pageUp, 0, "Page Up"},
        ClickerKeystroke{ClickerKeyCode::pageDown, 0, "Page Down"},
        {},
    };
    return configuration;
}

bool ClickerInputConfiguration::isValid() const {
    std::unordered_set<Uuid> ids;
    for (const auto& assignment : customAssignments) {
        if (!ids.insert(assignment.id()).second) {
            return false;
        }
    }

    std::vector<const ClickerKeystroke*> inUse{&previous, &next};
    for (const auto& assignment : customAssignments) {
        if (assignment.keystroke) {
            inUse.push_back(&*assignment.keystroke);
        }
    }
    std::unordered_set<ClickerKeystroke> distinct;
    for (const auto* keystroke : inUse) {
        if (!distinct.insert(*keystroke).second) {
            return false;
        }
    }
    return std::none_of(inUse.begin(), inUse.end(), [](const ClickerKeystroke* keystroke) {
        return keystroke->keyCode == ClickerKeyCode::escape ||
               ClickerKeyCode::isModifier(keystroke->keyCode);
    });
}

std::optional<ClickerCapturedInput> ClickerInputConfiguration::captured(
    uint16_t keyCode, uint64_t modifierFlags) const {
    const uint64_t flags = modifierFlags & ClickerModifierFlags::recordable;
    if (matches(previous, keyCode, flags)) {
        return ClickerDirection::left;
    }
    if (matches(next, keyCode, flags)) {
        return ClickerDirection::right;
    }
    for (const auto& assignment : customAssignments) {
        if (assignment.keystroke && matches(*assignment.keystroke, keyCode, flags)) {
            if (!assignment.action) {
                return std::nullopt;
            }
            return *assignment.action;
        }
    }
    return std::nullopt;
}

}  // namespace kelvra
