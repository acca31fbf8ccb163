// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "tray/SettingsService.h"
#include "tray/StatusBarFakes.h"

namespace kelvra {
namespace {

// Each setting is stored, or, when the file cannot be replaced, answers what is in effect and
// why it was not saved: a welcome choice is taken back, clicker keys hold until the process ends.
TEST(SettingsServiceTest, StoresEachSettingOrSaysWhyNot) {
    for (const bool writesFail : {false, true}) {
        SCOPED_TRACE(writesFail);
        testing::TemporaryDirectory directory;
        const auto failStep = [writesFail](SettingsStoreError::Kind step) {
            return writesFail && step == SettingsStoreError::Kind::replaceFile ? ENOSPC : 0;
        };
        auto store = std::make_shared<JsonFileSettingsStore>(
            directory.path() / "settings.json", JsonFileSettingsStore::Seams{failStep, {}});
        auto loginItem = std::make_shared<testing::FakeLoginItem>();
        const auto settings =
            testing::settingsIn(store, std::make_shared<testing::FakeLoginItemService>(loginItem));
        const auto reread = [&] {
            return testing::settingsIn(std::make_shared<JsonFileSettingsStore>(store->path()));
        };

        const HubServerConfiguration server{4000, HubNetworkSelection::localhost()};
        EXPECT_EQ(settings->storeServerConfiguration(server).has_value(), !writesFail);
        EXPECT_EQ(reread()->serverConfiguration() == server, !writesFail);

        EXPECT_EQ(settings->setShowWelcomeWindow(false).has_value(), !writesFail);
        EXPECT_EQ(settings->startupOptions().showWelcomeWindow, writesFail);
        EXPECT_EQ(reread()->startupOptions().showWelcomeWindow, writesFail);

        ClickerInputConfiguration keys = ClickerInputConfiguration::defaults();
        keys.customAssignments.emplace_back();
        const StoredClickerConfiguration stored = settings->storeClickerConfiguration(keys);
        EXPECT_EQ(stored.configuration, keys);
        EXPECT_EQ(stored.notSavedReason.has_value(), writesFail);
        EXPECT_EQ(reread()->clickerConfiguration() == keys, !writesFail);

        loginItem->registerFails = writesFail;
        const auto launch = settings->setLaunchAtLogin(true);
        EXPECT_EQ(launch.has_value(), !writesFail);
        EXPECT_EQ(settings->startupOptions().launchAtLogin,
                  writesFail ? LaunchAtLoginState::disabled : LaunchAtLoginState::enabled);
    }
}

}  // namespace
}  // namespace kelvra
