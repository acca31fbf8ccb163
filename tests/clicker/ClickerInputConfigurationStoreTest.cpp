// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "clicker/ClickerInputConfigurationStore.h"
#include "fuzz/ConfigurationNames.h"

namespace kelvra {
namespace {

namespace Flags = ClickerModifierFlags;
using nlohmann::json;

const std::string kFirstId = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
const std::string kSecondId = "0B3A7C51-5F3D-4F6B-9C2A-1D4E5F607182";
const std::string kThirdId = "9F0E8D7C-6B5A-4948-8372-615243342516";
const Uuid kFirst = *Uuid::parse(kFirstId);
const Uuid kSecond = *Uuid::parse(kSecondId);
const Uuid kThird = *Uuid::parse(kThirdId);

ClickerKeystroke key(uint16_t code, uint64_t flags, std::string name) {
    return {code, flags, std::move(name)};
}

json keystroke(json keyCode, json modifiers, json name) {
    return {{"keyCode", keyCode}, {"modifiers", modifiers}, {"displayName", name}};
}

/// A stored document with valid fixed keystrokes (F1 and F2) and the given custom rows.
json::object_t storedWithRows(json rows) {
    return {
        {"clickerDistributor.previousKeystroke", keystroke(122, 0, "F1")},
        {"clickerDistributor.nextKeystroke", keystroke(120, Flags::shift, "F2")},
        {"clickerDistributor.customAssignments", std::move(rows)},
    };
}

const ClickerInputConfiguration kStoredFixed{key(122, 0, "F1"), key(120, Flags::shift, "F2"), {}};

ClickerInputConfiguration fixedWithRows(std::vector<CustomClickerAssignment> rows) {
    auto configuration = kStoredFixed;
    configuration.customAssignments = std::move(rows);
    return configuration;
}

/// Equality plus the names that equality leaves out.
void expectSameConfiguration(const ClickerInputConfiguration& actual,
                             const ClickerInputConfiguration& expected) {
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(testing::displayNames(actual), testing::displayNames(expected));
}

TEST(ClickerInputConfigurationStoreTest, StoresTheSharedKeysAndTypes) {
    auto settings = std::make_shared<InMemorySettingsStore>(json::object_t{{"unrelated", 1}});
    ClickerInputConfigurationStore store(settings);
    ASSERT_TRUE(store
                    .setConfiguration(fixedWithRows({
                        CustomClickerAssignment(kFirst, ClickerCustomAction::blackout,
                                                key(96, Flags::command | Flags::shift, "F5")),
                        CustomClickerAssignment(kSecond),
                    }))
                    .has_value());
    const json expected = {
        {"unrelated", 1},
        {"clickerDistributor.previousKeystroke", keystroke(122, 0, "F1")},
        {"clickerDistributor.nextKeystroke", keystroke(120, 0x20000, "F2")},
        {"clickerDistributor.customAssignments",
         {
             {{"id", kFirstId},
              {"action", "blackout"},
              {"keystroke", keystroke(96, 0x120000, "F5")}},
             {{"id", kSecondId}},
         }},
    };
    EXPECT_EQ(json(settings->values()), expected);

    ASSERT_TRUE(store.setConfiguration(ClickerInputConfiguration::defaults()).has_value());
    EXPECT_EQ(settings->values().at("clickerDistributor.customAssignments"), json::array());
}

TEST(ClickerInputConfigurationStoreTest, ReadsWhatStaysMeaningfulAndFallsBackWhereNothingDoes) {
    const auto previousIs = [](json value) {
        auto stored = storedWithRows(json::array());
        stored["clickerDistributor.previousKeystroke"] = std::move(value);
        return stored;
    };
    auto withoutNext = storedWithRows(json::array());
    withoutNext.erase("clickerDistributor.nextKeystroke");
    auto withoutRows = storedWithRows(json::array());
    withoutRows.erase("clickerDistributor.customAssignments");
    const std::string lowerFirst = "e621e1f8-c36c-495a-93fc-0c247a3e6e5f";
    const json good = {{"id", kFirstId}, {"action", "freeze"}};
    const auto& defaults = ClickerInputConfiguration::defaults();

    const struct {
        std::string name;
        json::object_t stored;
        ClickerInputConfiguration expected;
    } rows[] = {
        // An unreadable fixed keystroke or an invalid whole gives the defaults.
        {"nothing stored", {}, defaults},
        {"next missing", withoutNext, defaults},
        {"previous is text", previousIs("Page Up"), defaults},
        {"capitals lock bit", previousIs(keystroke(116, 0x10000, "Page Up")), defaults},
        {"modifiers as text", previousIs(keystroke(116, "0", "Page Up")), defaults},
        {"key code 65536", previousIs(keystroke(65536, 0, "Page Up")), defaults},
        {"empty name", previousIs(keystroke(116, 0, "")), defaults},
        {"row reuses next",
         storedWithRows({{{"id", kFirstId}, {"keystroke", keystroke(120, Flags::shift, "F2")}}}),
         defaults},
        {"rows share an id in different cases",
         storedWithRows({{{"id", kFirstId}}, {{"id", lowerFirst}}}), defaults},
        // An unreadable custom row drops every row.
        {"unknown action in the second of three",
         storedWithRows(
             {good, {{"id", kSecondId}, {"action", "display-still-image-11"}}, {{"id", kThirdId}}}),
         kStoredFixed},
        {"id missing", storedWithRows({good, {{"action", "freeze"}}}), kStoredFixed},
        {"keystroke as text", storedWithRows({good, {{"id", kSecondId}, {"keystroke", "F5"}}}),
         kStoredFixed},
        {"keystroke with stray bits",
         storedWithRows({good, {{"id", kSecondId}, {"keystroke", keystroke(96, 0x1, "F5")}}}),
         kStoredFixed},
        {"row as text", storedWithRows({good, kSecondId}), kStoredFixed},
        // Read leniently where the row stays meaningful.
        {"no rows stored", withoutRows, kStoredFixed},
        {"rows as text", storedWithRows("rows"), kStoredFixed},
        {"only an id", storedWithRows({{{"id", kFirstId}}}),
         fixedWithRows({CustomClickerAssignment(kFirst)})},
        {"action as number",
         storedWithRows({{{"id", kFirstId}, {"action", 3}, {"keystroke", keystroke(96, 0, "F5")}}}),
         fixedWithRows({CustomClickerAssignment(kFirst, std::nullopt, key(96, 0, "F5"))})},
        {"order kept",
         storedWithRows({{{"id", kThirdId}, {"action", "display-still-image-10"}},
                         {{"id", kFirstId}, {"keystroke", keystroke(97, Flags::control, "F6")}},
                         {{"id", kSecondId}, {"action", "progress-previous"}}}),
         fixedWithRows(
             {CustomClickerAssignment(kThird, ClickerCustomAction::displayStillImage10),
              CustomClickerAssignment(kFirst, std::nullopt, key(97, Flags::control, "F6")),
              CustomClickerAssignment(kSecond, ClickerCustomAction::previousSlide)})},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto settings = std::make_shared<InMemorySettingsStore>(row.stored);
        const ClickerInputConfigurationStore store(settings);
        expectSameConfiguration(store.configuration(), row.expected);
        // Reading never repairs what is stored.
        EXPECT_EQ(settings->values(), row.stored);
    }
}

TEST(ClickerInputConfigurationStoreTest, ConfigurationsThatWouldNotReadBackAreNotWritten) {
    auto escapeNext = kStoredFixed;
    escapeNext.next = key(53, 0, "Escape");
    auto strayBits = kStoredFixed;
    strayBits.next.modifierFlags |= Flags::capitalsLock;
    auto emptyName = kStoredFixed;
    emptyName.previous.baseDisplayName.clear();

    for (const auto& configuration : {escapeNext, strayBits, emptyName}) {
        auto settings = std::make_shared<InMemorySettingsStore>(storedWithRows(json::array()));
        ClickerInputConfigurationStore store(settings);
        EXPECT_FALSE(ClickerInputConfigurationStore::isStorable(configuration));
        EXPECT_TRUE(store.setConfiguration(configuration).has_value());
        EXPECT_EQ(settings->values(), storedWithRows(json::array()));
        expectSameConfiguration(store.configuration(), kStoredFixed);
    }
}

}  // namespace
}  // namespace kelvra
