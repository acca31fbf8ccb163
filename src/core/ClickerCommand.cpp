// SPDX-License-Identifier: MIT
#include "core/ClickerCommand.h"

#include <cstddef>

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

}  // namespace kelvra
