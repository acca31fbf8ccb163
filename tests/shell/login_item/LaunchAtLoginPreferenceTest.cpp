// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <vector>

#include "core/Error.h"
#include "shell/login_item/FakeLoginItemService.h"
#include "shell/login_item/LaunchAtLoginPreference.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

using Status = LoginItemStatus;

using testing::FakeLoginItem;
using testing::FakeLoginItemService;

using Calls = std::vector<std::string>;

TEST(LaunchAtLoginPreferenceTest, TheFirstRunDefaultRegistersOnlyAnItemThatIsMissing) {
    const struct {
        std::string name;
        std::optional<bool> applied;
        Status status;
        bool registerFails;
        Calls calls;
    } rows[] = {
        {"first run, not registered", std::nullopt, Status::notRegistered, false, {"register"}},
        {"first run, switched off by the user", std::nullopt, Status::requiresApproval, false, {}},
        {"first run, already enabled", std::nullopt, Status::enabled, false, {}},
        {"flag stored false", false, Status::notRegistered, false, {"register"}},
        {"later run after the user unregistered", true, Status::notRegistered, false, {}},
        {"first registration fails", std::nullopt, Status::notRegistered, true, {"register"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto item = std::make_shared<FakeLoginItem>();
        item->status = row.status;
        item->registerFails = row.registerFails;
        auto defaults = std::make_shared<InMemorySettingsStore>();
        if (row.applied) {
            ASSERT_TRUE(defaults->setBoolean("launchAtLoginDefaultApplied", *row.applied));
        }
        LaunchAtLoginPreference preference(std::make_unique<FakeLoginItemService>(item), defaults);

        const auto applied = preference.applyDefaultIfNeeded();
        EXPECT_EQ(applied.has_value(), !row.registerFails);
        EXPECT_EQ(item->calls, row.calls);
        EXPECT_EQ(defaults->boolean("launchAtLoginDefaultApplied"), true);
    }
}

TEST(LaunchAtLoginPreferenceTest, AnExplicitChoiceChangesTheItemAndReportsItsState) {
    using S = Status;
    using L = LaunchAtLoginState;
    const S off = S::requiresApproval;  // registered, but switched off in the desktop's settings
    const struct {
        std::string name;
        bool enabled;
        Status status;
        Status afterRegister;
        bool fails;
        Calls calls;
        std::optional<LaunchAtLoginState> state;  ///< absent: the operation fails
    } rows[] = {
        {"on", true, S::notRegistered, S::enabled, false, {"register"}, L::enabled},
        {"on, kept off", true, off, off, false, {"register", "open settings"}, L::requiresApproval},
        {"on again", true, off, S::enabled, false, {"register"}, L::enabled},
        {"on fails", true, S::notRegistered, S::enabled, true, {"register"}, std::nullopt},
        {"off", false, S::enabled, S::enabled, false, {"unregister"}, L::disabled},
        {"off, kept off", false, off, S::enabled, false, {"unregister"}, L::disabled},
        {"off fails", false, S::enabled, S::enabled, true, {"unregister"}, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto item = std::make_shared<FakeLoginItem>();
        item->status = row.status;
        item->afterRegister = row.afterRegister;
        item->registerFails = item->unregisterFails = row.fails;
        auto defaults = std::make_shared<InMemorySettingsStore>();
        LaunchAtLoginPreference preference(std::make_unique<FakeLoginItemService>(item), defaults);

        const auto state = preference.setEnabled(row.enabled);
        EXPECT_EQ(state ? std::optional(*state) : std::nullopt, row.state);
        EXPECT_EQ(item->calls, row.calls);
        EXPECT_EQ(defaults->boolean("launchAtLoginDefaultApplied"), true);
    }
}

TEST(LaunchAtLoginPreferenceTest, AChoiceThatCannotBeRecordedLeavesTheItemAlone) {
    auto item = std::make_shared<FakeLoginItem>();
    // Its folder cannot be made: every write fails.
    testing::TemporaryDirectory scratch;
    testing::writeFile(scratch.path() / "file", "");
    LaunchAtLoginPreference preference(
        std::make_unique<FakeLoginItemService>(item),
        std::make_shared<JsonFileSettingsStore>(scratch.path() / "file" / "settings.json"));
    EXPECT_FALSE(preference.applyDefaultIfNeeded());
    item->status = Status::enabled;
    const auto disabled = preference.setEnabled(false);
    ASSERT_FALSE(disabled);
    EXPECT_TRUE(std::holds_alternative<SettingsStoreError>(disabled.error()));
    EXPECT_TRUE(item->calls.empty());
}

}  // namespace
}  // namespace kelvra
