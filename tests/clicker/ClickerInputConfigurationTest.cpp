// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <unordered_set>

#include "clicker/ClickerInputConfiguration.h"

namespace kelvra {
namespace {

namespace Flags = ClickerModifierFlags;

const Uuid kFirst = *Uuid::parse("00000000-0000-4000-8000-000000000001");
const Uuid kSecond = *Uuid::parse("00000000-0000-4000-8000-000000000002");
const Uuid kThird = *Uuid::parse("00000000-0000-4000-8000-000000000003");

ClickerKeystroke key(uint16_t code, uint64_t flags = 0, std::string name = "Key") {
    return {code, flags, std::move(name)};
}

ClickerInputConfiguration withRows(std::vector<CustomClickerAssignment> rows) {
    auto configuration = ClickerInputConfiguration::defaults();
    configuration.customAssignments = std::move(rows);
    return configuration;
}

TEST(ClickerKeystrokeTest, DisplayNamePutsTheGlyphsInTheirFixedOrder) {
    const struct {
        uint64_t flags;
        std::string base;
        std::string expected;
    } rows[] = {
        {0, "F5", "F5"},
        {Flags::control | Flags::option | Flags::shift | Flags::command, "F5",
         "\u2303\u2325\u21E7\u2318F5"},
        {Flags::command | Flags::shift | Flags::control, "Page Up", "\u2303\u21E7\u2318Page Up"},
        {Flags::control | Flags::shift, "Page Up", "\u2303\u21E7Page Up"},
        {Flags::command | Flags::option, "A", "\u2325\u2318A"},
        {Flags::shift, "Page Up", "\u21E7Page Up"},
        // Bits other than the four have no glyph.
        {Flags::capitalsLock | 0x800000, "A", "A"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(key(10, row.flags, row.base).displayName(), row.expected) << row.flags;
    }
}

TEST(ClickerKeystrokeTest, IdentityIsKeyCodeAndModifiersOnly) {
    const auto pageUp = key(116, Flags::shift, "Page Up");
    const auto renamed = key(116, Flags::shift, "Bild auf");
    EXPECT_EQ(pageUp, renamed);
    EXPECT_EQ(std::hash<ClickerKeystroke>{}(pageUp), std::hash<ClickerKeystroke>{}(renamed));
    EXPECT_NE(pageUp, key(116, 0, "Page Up"));
    EXPECT_NE(pageUp, key(121, Flags::shift, "Page Up"));
    const std::unordered_set<ClickerKeystroke> set{pageUp, renamed, key(116), key(121)};
    EXPECT_EQ(set.size(), 3u);
}

TEST(ClickerCustomActionTest, RawValuesAndDisplayNamesFollowTheMenuOrder) {
    const std::vector<std::pair<std::string, std::string>> expected = {
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
    };
    ASSERT_EQ(allClickerCustomActions.size(), expected.size());
    for (size_t index = 0; index < expected.size(); ++index) {
        const auto action = allClickerCustomActions[index];
        EXPECT_EQ(static_cast<size_t>(action), index);
        EXPECT_EQ(rawValue(action), expected[index].first);
        EXPECT_EQ(displayName(action), expected[index].second);
        EXPECT_EQ(clickerCustomActionFromRawValue(expected[index].first), action);
    }
    EXPECT_EQ(allClickerCustomActions[13], ClickerCustomAction::displayStillImage10);
}

TEST(ClickerCustomActionTest, ParsingIsExact) {
    for (const std::string& raw : std::vector<std::string>{
             "", "display-still-image-11", "display-still-image-0", "display-still-image-01",
             "Blackout", "Previous slide", "PROGRESS-NEXT", "progress-next ", " blackout",
             "nextSlide", std::string("freeze\0", 7)}) {
        EXPECT_FALSE(clickerCustomActionFromRawValue(raw).has_value()) << raw;
    }
    EXPECT_EQ(clickerCustomActionFromRawValue("progress-next"), ClickerCustomAction::nextSlide);
}

TEST(ClickerDirectionTest, ParsingIsExactToo) {
    EXPECT_EQ(clickerDirectionFromRawValue("left"), ClickerDirection::left);
    EXPECT_EQ(clickerDirectionFromRawValue("right"), ClickerDirection::right);
    EXPECT_EQ(clickerMappingActionFromRawValue("Next"), ClickerMappingAction::next);
    for (const char* raw : {"", "Left", "RIGHT", "up", "left "}) {
        EXPECT_FALSE(clickerDirectionFromRawValue(raw).has_value()) << raw;
    }
    EXPECT_FALSE(clickerMappingActionFromRawValue("previous").has_value());
    EXPECT_EQ(recorderFieldIdentifier(ClickerMappingAction::previous), "previousKeyField");
    EXPECT_EQ(accessibilityName(ClickerMappingAction::next), "Next slide");
}

TEST(CustomClickerAssignmentTest, EqualityComparesIdActionAndKeystrokeIdentity) {
    const CustomClickerAssignment row(kFirst, ClickerCustomAction::freeze, key(96, 0, "F5"));
    EXPECT_EQ(row, CustomClickerAssignment(kFirst, ClickerCustomAction::freeze, key(96, 0, "x")));
    EXPECT_NE(row, CustomClickerAssignment(kSecond, ClickerCustomAction::freeze, key(96, 0, "F5")));
    EXPECT_NE(row, CustomClickerAssignment(kFirst, ClickerCustomAction::blackout, key(96)));
    EXPECT_NE(row, CustomClickerAssignment(kFirst, ClickerCustomAction::freeze));
    EXPECT_NE(row, CustomClickerAssignment(kFirst, std::nullopt, key(96)));
    EXPECT_NE(CustomClickerAssignment().id(), CustomClickerAssignment().id());
}

TEST(ClickerInputConfigurationTest, DefaultsArePageUpAndPageDown) {
    const auto& defaults = ClickerInputConfiguration::defaults();
    EXPECT_EQ(defaults.previous.keyCode, 116);
    EXPECT_EQ(defaults.previous.modifierFlags, 0u);
    EXPECT_EQ(defaults.previous.baseDisplayName, "Page Up");
    EXPECT_EQ(defaults.next.keyCode, 121);
    EXPECT_EQ(defaults.next.modifierFlags, 0u);
    EXPECT_EQ(defaults.next.baseDisplayName, "Page Down");
    EXPECT_TRUE(defaults.customAssignments.empty());
    EXPECT_TRUE(defaults.isValid());
}

TEST(ClickerInputConfigurationTest, ValidityRules) {
    const auto previousIs = [](ClickerKeystroke keystroke) {
        auto configuration = ClickerInputConfiguration::defaults();
        configuration.previous = std::move(keystroke);
        return configuration;
    };
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
        {"next equals previous", nextIs(key(116, 0, "Other name")), false},
        {"same key, other modifiers", nextIs(key(116, Flags::shift)), true},
        {"Escape as previous", previousIs(key(53)), false},
        {"Escape with a modifier", nextIs(key(53, Flags::command)), false},
        {"right command", previousIs(key(54)), false},
        {"function", nextIs(key(63)), false},
        {"shift key with shift", nextIs(key(56, Flags::shift)), false},
        {"key code 52", nextIs(key(52)), true},
        {"key code 64", nextIs(key(64)), true},
        {"key code 0", previousIs(key(0)), true},
        {"three empty rows",
         withRows({CustomClickerAssignment(kFirst), CustomClickerAssignment(kSecond),
                   CustomClickerAssignment(kThird)}),
         true},
        {"two rows share an id",
         withRows({CustomClickerAssignment(kFirst, ClickerCustomAction::freeze, key(96)),
                   CustomClickerAssignment(kFirst, ClickerCustomAction::blackout, key(97))}),
         false},
        {"two empty rows share an id",
         withRows({CustomClickerAssignment(kFirst), CustomClickerAssignment(kFirst)}), false},
        {"row reuses previous", withRows({CustomClickerAssignment(kFirst, {}, key(116))}), false},
        {"row reuses next with another name",
         withRows({CustomClickerAssignment(kFirst, ClickerCustomAction::freeze,
                                           key(121, 0, "Page Down again"))}),
         false},
        {"two rows share a keystroke",
         withRows({CustomClickerAssignment(kFirst, {}, key(96, Flags::option)),
                   CustomClickerAssignment(kSecond, {}, key(96, Flags::option))}),
         false},
        {"two rows share an action",
         withRows({CustomClickerAssignment(kFirst, ClickerCustomAction::freeze, key(96)),
                   CustomClickerAssignment(kSecond, ClickerCustomAction::freeze, key(97))}),
         true},
        {"row with Escape", withRows({CustomClickerAssignment(kFirst, {}, key(53))}), false},
        {"row with control key", withRows({CustomClickerAssignment(kFirst, {}, key(59))}), false},
        {"row with a keystroke and none",
         withRows({CustomClickerAssignment(kFirst, {}, key(96)), CustomClickerAssignment(kSecond)}),
         true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.configuration.isValid(), row.valid) << row.name;
    }
}

TEST(ClickerInputConfigurationTest, CapturedMatchesExactlyInPriorityOrder) {
    auto custom = withRows({
        CustomClickerAssignment(kFirst, ClickerCustomAction::blackout, key(11, Flags::command)),
        CustomClickerAssignment(kSecond, std::nullopt, key(96, 0, "F5")),
        CustomClickerAssignment(kThird, ClickerCustomAction::freeze, key(97)),
    });
    // Not a valid configuration, but matching must still stop at the first equal row.
    auto shadowed = custom;
    shadowed.customAssignments.emplace_back(Uuid::generate(), ClickerCustomAction::freeze, key(96));
    shadowed.customAssignments.emplace_back(Uuid::generate(), ClickerCustomAction::freeze,
                                            key(116));

    const auto& defaults = ClickerInputConfiguration::defaults();
    using Result = std::optional<ClickerCapturedInput>;
    const struct {
        std::string name;
        const ClickerInputConfiguration& configuration;
        uint16_t keyCode;
        uint64_t flags;
        Result expected;
    } rows[] = {
        {"Page Up", defaults, 116, 0, ClickerDirection::left},
        {"Page Down", defaults, 121, 0, ClickerDirection::right},
        {"Page Down with capitals lock", defaults, 121, Flags::capitalsLock,
         ClickerDirection::right},
        {"Page Down with function and device bits", defaults, 121, 0x800000 | 0x2 | 0x100,
         ClickerDirection::right},
        {"shift Page Down", defaults, 121, Flags::shift, std::nullopt},
        {"unassigned", defaults, 96, 0, std::nullopt},
        {"custom with command", custom, 11, Flags::command | Flags::capitalsLock,
         ClickerCustomAction::blackout},
        {"custom without command", custom, 11, 0, std::nullopt},
        {"custom with an extra modifier", custom, 11, Flags::command | Flags::shift, std::nullopt},
        {"row without an action", custom, 96, 0, std::nullopt},
        {"later row", custom, 97, 0, ClickerCustomAction::freeze},
        {"row without action hides a later one", shadowed, 96, 0, std::nullopt},
        {"previous wins over a row", shadowed, 116, 0, ClickerDirection::left},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.configuration.captured(row.keyCode, row.flags), row.expected) << row.name;
    }

    auto same = ClickerInputConfiguration::defaults();
    same.next = same.previous;
    EXPECT_EQ(same.captured(116, 0), Result(ClickerDirection::left));
}

TEST(ClickerInputConfigurationTest, EqualityKeepsRowOrderAndIgnoresNames) {
    const CustomClickerAssignment first(kFirst, ClickerCustomAction::freeze, key(96));
    const CustomClickerAssignment second(kSecond);
    auto renamed = withRows({first, second});
    renamed.previous.baseDisplayName = "Bild auf";
    EXPECT_EQ(withRows({first, second}), renamed);
    EXPECT_NE(withRows({first, second}), withRows({second, first}));
    EXPECT_NE(withRows({first, second}), withRows({first}));
}

}  // namespace
}  // namespace kelvra
