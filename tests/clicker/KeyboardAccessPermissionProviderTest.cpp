// SPDX-License-Identifier: MIT
#include <filesystem>
#include <fstream>
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
    std::shared_ptr<kelvra::testing::RecordingLog> log =
        std::make_shared<kelvra::testing::RecordingLog>();
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
        {true, std::nullopt, Status::granted, true},
        {true, false, Status::granted, true},
        {false, std::nullopt, Status::notDetermined, false},
        {false, false, Status::notDetermined, false},
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
    EXPECT_TRUE(log->contains("[shell] The keyboard access helper ended with status 126."));
}

TEST_F(KeyboardAccessPermissionProviderTest, TheHelpPageOpensThroughXdgOpen) {
    makeProvider().openSystemSettings();
    ASSERT_THAT(commands, ElementsAre(ElementsAre(
                              "xdg-open", "/opt/kelvra-hub/Resources/keyboard-access.html")));
    pending[0](4);
    EXPECT_EQ(log->lines().size(), 1u);
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
    };
    for (const Row& row : rows) {
        std::promise<int> status;
        runCommandAsynchronously(row.arguments, [&](int value) { status.set_value(value); });
        auto future = status.get_future();
        ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(future.get(), row.expected) << row.arguments.back();
    }
}

// The helper as installed in the bundle, with stand-ins for the system tools it calls.
TEST(KeyboardAccessHelperTest, InstallsTheRuleAndAppliesItToExistingDevices) {
    const kelvra::testing::TemporaryDirectory scratch;
    const auto tools = scratch.path() / "tools";
    std::filesystem::create_directories(tools);
    for (const char* tool : {"modprobe", "udevadm"}) {
        kelvra::testing::writeFile(tools / tool, std::string("#!/bin/sh\necho \"") + tool +
                                                     " $*\" >>\"" +
                                                     (scratch.path() / "calls").string() + "\"\n");
        std::filesystem::permissions(tools / tool, std::filesystem::perms::owner_all);
    }
    const auto rules = scratch.path() / "rules.d";
    const auto result = kelvra::testing::runProcess(
        std::filesystem::path(KELVRA_TEST_BUNDLE_DIR) / "bin/kelvra-hub-keyboard-access", {},
        {{"PATH", tools.string() + ":/usr/bin:/bin"},
         {"KELVRA_HUB_UDEV_RULES_DIR", rules.string()}});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;

    EXPECT_THAT(kelvra::testing::readLines(scratch.path() / "calls"),
                ElementsAre("modprobe uinput", "udevadm control --reload",
                            "udevadm trigger --subsystem-match=input --subsystem-match=misc",
                            "udevadm settle --timeout=10"));
    std::vector<std::string> installed;
    for (const auto& entry : std::filesystem::directory_iterator(rules)) {
        installed.push_back(entry.path().filename().string());
    }
    ASSERT_THAT(installed, ElementsAre("70-kelvra-hub-keyboard-access.rules"));
    // uaccess becomes access in 73-seat-late.rules, so the rule must sort before it.
    EXPECT_LT(installed[0], "73-seat-late.rules");
    EXPECT_EQ(kelvra::testing::readFile(rules / installed[0]),
              kelvra::testing::readFile(std::filesystem::path(KELVRA_TEST_SOURCE_DIR) /
                                        "data/70-kelvra-hub-keyboard-access.rules"));
}

// udevadm verify needs systemd 253; without it the rule is parsed here.
TEST(KeyboardAccessHelperTest, TheRuleIsWellFormedAndGrantsKeyboardsAndUinput) {
    const auto rule =
        std::filesystem::path(KELVRA_TEST_SOURCE_DIR) / "data/70-kelvra-hub-keyboard-access.rules";
    const auto verify = kelvra::testing::runProcess(
        "/bin/sh",
        {"-c", "udevadm verify --help >/dev/null 2>&1 || exit 77; udevadm verify \"$1\"", "sh",
         rule.string()},
        {{"PATH", "/usr/bin:/bin:/sbin:/usr/sbin"}});
    if (verify.exitStatus != 77) {
        EXPECT_EQ(verify.exitStatus, 0) << verify.standardOutput << verify.standardError;
    }
    std::vector<std::string> rulesText;
    for (const auto& line : kelvra::testing::readLines(rule)) {
        if (!line.empty() && line[0] != '#') {
            rulesText.push_back(line);
        }
    }
    ASSERT_EQ(rulesText.size(), 2u);
    EXPECT_THAT(rulesText[0], ::testing::AllOf(::testing::HasSubstr(R"(SUBSYSTEM=="input")"),
                                               ::testing::HasSubstr(R"(ID_INPUT_KEYBOARD}=="1")"),
                                               ::testing::HasSubstr(R"(TAG+="uaccess")")));
    EXPECT_THAT(rulesText[1], ::testing::AllOf(::testing::HasSubstr(R"(KERNEL=="uinput")"),
                                               ::testing::HasSubstr(R"(static_node=uinput)"),
                                               ::testing::HasSubstr(R"(TAG+="uaccess")")));
}

}  // namespace
}  // namespace kelvra
