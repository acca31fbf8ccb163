// SPDX-License-Identifier: MIT
#include "clicker/ClickerInputConfiguration.h"

#include <algorithm>
#include <unordered_set>

namespace kelvra {
namespace {

struct CustomActionNames {
    std::string_view rawValue;
    std::string_view displayName;
};

// Indexed by the enumeration, which follows the same order.
constexpr std::array<CustomActionNames, allClickerCustomActions.size()> kCustomActionNames = {{
    {"progress-previous", "Previous slide"},
    {"progress-next", "Next slide"},
    {"blackout", "Blackout"},
    {"freeze", "Freeze output"},
    {"display-still-image-1", "Display still image 1"},
    {"display-still-image-2", "Display still image 2"},
    {"display-still-image-3", "Display still image 3"},
    {"display-still-image-4", "Display still image 4"},
    {"display-still-image-5", "Display still image 5"},
    {"display-still-image-6", "Display still image 6"},
    {"display-still-image-7", "Display still image 7"},
    {"display-still-image-8", "Display still image 8"},
    {"display-still-image-9", "Display still image 9"},
    {"display-still-image-10", "Display still image 10"},
}};

bool matches(const ClickerKeystroke& keystroke, uint16_t keyCode, uint64_t modifierFlags) {
    return keystroke.keyCode == keyCode && keystroke.modifierFlags == modifierFlags;
}

}  // namespace

std::string_view rawValue(ClickerDirection direction) {
    return direction == ClickerDirection::left ? "left" : "right";
}

std::optional<ClickerDirection> clickerDirectionFromRawValue(std::string_view rawValue) {
    if (rawValue == "left") {
        return ClickerDirection::left;
    }
    if (rawValue == "right") {
        return ClickerDirection::right;
    }
    return std::nullopt;
}

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

std::string_view rawValue(ClickerCustomAction action) {
    return kCustomActionNames[static_cast<size_t>(action)].rawValue;
}

std::optional<ClickerCustomAction> clickerCustomActionFromRawValue(std::string_view rawValue) {
    for (const auto action : allClickerCustomActions) {
        if (kCustomActionNames[static_cast<size_t>(action)].rawValue == rawValue) {
            return action;
        }
    }
    return std::nullopt;
}

std::string_view displayName(ClickerCustomAction action) {
    return kCustomActionNames[static_cast<size_t>(action)].displayName;
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
