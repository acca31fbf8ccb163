// SPDX-License-Identifier: MIT
#include <filesystem>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "clicker/ClickerInputConfigurationStore.h"
#include "clicker/linux/KeyboardAccessPermissionProvider.h"
#include "support/ManualMainThreadExecutor.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

using Status = AccessibilityAuthorizationStatus;
using ::testing::ElementsAre;
constexpr auto kRecordedKey = ClickerInputConfigurationStore::accessibilityRequestRecordedKey;

class KeyboardAccessPermissionProviderTest : public ::testing::Test {
protected:
    KeyboardAccessPermissionProvider makeProvider() {
        return {defaults,
                [this] { return tapOpens; },
                [this](std::vector<std::string> arguments, std::function<void(int)> done) {
                    commands.push_back(std::move(arguments));
                    pending.push_back(std::move(done));
                },
                mainThread,
                log,
                {"/opt/kelvra-hub/bin/kelvra-hub-keyboard-access",
                 "/opt/kelvra-hub/Resources/keyboard-access.html"}};
    }

    std::shared_ptr<InMemorySettingsStore> defaults = std::make_shared<InMemorySettingsStore>();
    std::shared_ptr<ManualMainThreadExecutor> mainThread =
        std::make_shared<ManualMainThreadExecutor>();
    std::shared_ptr<testing::RecordingLog> log = std::make_shared<testing::RecordingLog>();
    bool tapOpens = false;
    std::vector<std::vector<std::string>> commands;
    std::vector<std::function<void(int)>> pending;
};

TEST_F(KeyboardAccessPermissionProviderTest, StatusFollowsTheTapAndWhetherAccessWasEverAsked) {
    struct Row {
        bool tapOpens;
        std::optional<bool> recorded;
        Status expected;
        bool recordedAfter;
    };
    const Row rows[] = {
        {true, false, Status::granted, true},
        {false, std::nullopt, Status::notDetermined, false},
        {false, true, Status::denied, true},
    };
    for (const Row& row : rows) {
        defaults = std::make_shared<InMemorySettingsStore>();
        if (row.recorded) {
            ASSERT_TRUE(defaults->setBoolean(kRecordedKey, *row.recorded));
        }
        tapOpens = row.tapOpens;
        EXPECT_EQ(makeProvider().authorizationStatus(), row.expected);
        EXPECT_EQ(defaults->boolean(kRecordedKey).value_or(false), row.recordedAfter);
    }
}

TEST_F(KeyboardAccessPermissionProviderTest, ARequestRunsTheHelperAndProbesAgainWhenItEnds) {
    auto provider = makeProvider();
    std::vector<bool> answers;
    provider.requestAccess([&](bool granted) { answers.push_back(granted); });
    EXPECT_EQ(defaults->boolean(kRecordedKey), true);
    ASSERT_THAT(commands, ElementsAre(ElementsAre(
                              "pkexec", "/opt/kelvra-hub/bin/kelvra-hub-keyboard-access")));
    EXPECT_EQ(provider.authorizationStatus(), Status::denied);  // the dialog is still open

    tapOpens = true;
    std::async(std::launch::async, [&] { pending[0](0); }).wait();
    EXPECT_TRUE(answers.empty());  // only on the main thread
    mainThread->runPending();
    EXPECT_THAT(answers, ElementsAre(true));

    tapOpens = false;
    provider.requestAccess([&](bool granted) { answers.push_back(granted); });
    pending[1](126);
    mainThread->runPending();
    EXPECT_THAT(answers, ElementsAre(true, false));
}

TEST(RunCommandAsynchronouslyTest, ReportsHowTheProgramEnded) {
    struct Row {
        std::vector<std::string> arguments;
        int expected;
    };
    const Row rows[] = {
        {{"sh", "-c", "exit 3"}, 3},
        {{"sh", "-c", "kill -9 $$"}, 128 + 9},
        {{"kelvra-hub-no-such-program"}, 127},
        // The environment as it was at the call, which the main thread may change right after.
        {{"sh", "-c", "test \"$KELVRA_TEST_LENT\" = lent"}, 0},
    };
    for (const Row& row : rows) {
        std::promise<int> status;
        setenv("KELVRA_TEST_LENT", "lent", 1);
        runCommandAsynchronously(row.arguments, [&](int value) { status.set_value(value); });
        unsetenv("KELVRA_TEST_LENT");
        auto future = status.get_future();
        ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(future.get(), row.expected) << row.arguments.back();
    }
}

// The helper as installed in the bundle, with stand-ins for the system tools it calls.
TEST(KeyboardAccessHelperTest, InstallsTheRuleAndAppliesItToExistingDevices) {
    const testing::TemporaryDirectory scratch;
    const auto tools = scratch.path() / "tools";
    for (const std::string tool : {"modprobe", "udevadm"}) {
        testing::writeExecutable(tools / tool, "#!/bin/sh\necho \"" + tool + " $*\" >>\"" +
                                                   (scratch.path() / "calls").string() + "\"\n");
    }
    const auto rules = scratch.path() / "rules.d";
    const auto result = testing::runProcess(
        std::filesystem::path(KELVRA_TEST_BUNDLE_DIR) / "bin/kelvra-hub-keyboard-access", {},
        {{"PATH", tools.string() + ":/usr/bin:/bin"},
         {"KELVRA_HUB_UDEV_RULES_DIR", rules.string()}});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;

    EXPECT_THAT(testing::readLines(scratch.path() / "calls"),
                ElementsAre("modprobe uinput", "udevadm control --reload",
                            "udevadm trigger --subsystem-match=input --subsystem-match=misc",
                            "udevadm settle --timeout=10"));
    // uaccess becomes access in 73-seat-late.rules, so the rule must sort before it.
    const auto installed = rules / "70-kelvra-hub-keyboard-access.rules";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(rules), {}), 1);
    EXPECT_EQ(testing::readFile(installed),
              testing::readFile(std::filesystem::path(KELVRA_TEST_SOURCE_DIR) /
                                "data/70-kelvra-hub-keyboard-access.rules"));
}

}  // namespace
}  // namespace kelvra
