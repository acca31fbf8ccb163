// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <unordered_set>

#include "clicker/ClickerInputConfiguration.h"

namespace kelvra {
namespace {

namespace Flags = ClickerModifierFlags;

const Uuid kRowOne = *Uuid::parse("00000000-0000-4000-8000-000000000001");
const Uuid kRowTwo = *Uuid::parse("00000000-0000-4000-8000-000000000002");
const Uuid kRowThree = *Uuid::parse("00000000-0000-4000-8000-000000000003");

ClickerKeystroke stroke(uint16_t code, uint64_t flags = 0, std::string name = "Key") {
    return {code, flags, std::move(name)};
}

ClickerInputConfiguration withRows(std::vector<CustomClickerAssignment> rows) {
    auto configuration = ClickerInputConfiguration::defaults();
    configuration.customAssignments = std::move(rows);
    return configuration;
}

TEST(ClickerKeystrokeTest, IdentityAndHashAreKeyCodeAndModifiersOnly) {
    const std::unordered_set<ClickerKeystroke> distinct{stroke(116, Flags::shift, "Page Up"),
                                                        stroke(116, Flags::shift, "Bild auf"),
                                                        stroke(116), stroke(121)};
    EXPECT_EQ(distinct.size(), 3u);
}

TEST(ClickerInputConfigurationTest, ValidityRules) {
    const auto nextIs = [](ClickerKeystroke keystroke) {
        auto configuration = ClickerInputConfiguration::defaults();
        configuration.next = std::move(keystroke);
        return configuration;
    };
    const struct {
        std::string name;
        ClickerInputConfiguration configuration;
        bool valid;
    } rows[] = {
        {"defaults", ClickerInputConfiguration::defaults(), true},
        {"next equals previous", nextIs(stroke(116, 0, "Other name")), false},
        {"same key, other modifiers", nextIs(stroke(116, Flags::shift)), true},
        {"Escape in a row", withRows({CustomClickerAssignment(kRowOne, {}, stroke(53))}), false},
        {"shift key with shift", nextIs(stroke(56, Flags::shift)), false},
        {"key code 52", nextIs(stroke(52)), true},
        {"two rows share an id",
         withRows({CustomClickerAssignment(kRowOne, ClickerCustomAction::freeze, stroke(96)),
                   CustomClickerAssignment(kRowOne, ClickerCustomAction::blackout, stroke(97))}),
         false},
        {"row reuses previous", withRows({CustomClickerAssignment(kRowOne, {}, stroke(116))}),
         false},
        {"two rows share a keystroke",
         withRows({CustomClickerAssignment(kRowOne, {}, stroke(96, Flags::option)),
                   CustomClickerAssignment(kRowTwo, {}, stroke(96, Flags::option))}),
         false},
        {"two rows share an action",
         withRows({CustomClickerAssignment(kRowOne, ClickerCustomAction::freeze, stroke(96)),
                   CustomClickerAssignment(kRowTwo, ClickerCustomAction::freeze, stroke(97))}),
         true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.configuration.isValid(), row.valid) << row.name;
    }
}

TEST(ClickerInputConfigurationTest, CapturedMatchesExactlyInPriorityOrder) {
    auto custom = withRows({
        CustomClickerAssignment(kRowOne, ClickerCustomAction::blackout, stroke(11, Flags::command)),
        CustomClickerAssignment(kRowTwo, std::nullopt, stroke(96, 0, "F5")),
        CustomClickerAssignment(kRowThree, ClickerCustomAction::freeze, stroke(97)),
    });
    // Not a valid configuration, but matching must still stop at the first equal row.
    auto shadowed = custom;
    shadowed.customAssignments.emplace_back(Uuid::generate(), ClickerCustomAction::freeze,
                                            stroke(96));
    shadowed.customAssignments.emplace_back(Uuid::generate(), ClickerCustomAction::freeze,
                                            stroke(116));

    const auto& defaults = ClickerInputConfiguration::defaults();
    auto samePair = defaults;
    samePair.next = samePair.previous;
    using Result = std::optional<ClickerCapturedInput>;
    const struct {
        std::string name;
        const ClickerInputConfiguration& configuration;
        uint16_t keyCode;
        uint64_t flags;
        Result expected;
    } rows[] = {
        {"Page Down with function and device bits", defaults, 121, 0x800000 | 0x2 | 0x100,
         ClickerDirection::right},
        {"shift Page Down", defaults, 121, Flags::shift, std::nullopt},
        {"custom with command", custom, 11, Flags::command | Flags::capitalsLock,
         ClickerCustomAction::blackout},
        {"custom with an extra modifier", custom, 11, Flags::command | Flags::shift, std::nullopt},
        {"row without an action", custom, 96, 0, std::nullopt},
        {"row without action hides a later one", shadowed, 96, 0, std::nullopt},
        {"previous wins over a row", shadowed, 116, 0, ClickerDirection::left},
        {"previous wins over an equal next", samePair, 116, 0, ClickerDirection::left},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.configuration.captured(row.keyCode, row.flags), row.expected) << row.name;
    }
}

}  // namespace
}  // namespace kelvra
