// SPDX-License-Identifier: MIT
#include <filesystem>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "clicker/ClickerInputConfigurationStore.h"
#include "clicker/linux/KeyboardAccessPermissionProvider.h"
#include "support/ManualMainThreadExecutor.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;
using Status = AccessibilityAuthorizationStatus;
using ::testing::ElementsAre;
constexpr auto kRecordedKey = ClickerInputConfigurationStore::accessibilityRequestRecordedKey;
// Stands in for the installed helper: a file that only root can change, as in /opt/kelvra-hub.
constexpr auto kRootsOwnProgram = "/usr/bin/true";

class KeyboardAccessPermissionProviderTest : public ::testing::Test {
protected:
    KeyboardAccessPermissionProvider makeProvider(fs::path helper = kRootsOwnProgram) {
        return {defaults,
                [this](const KeyboardTapConfiguration& configuration) {
                    probedKeystrokes = configuration.assignedKeystrokes;
                    return tapOpens;
                },
                [this](std::vector<std::string> arguments, std::function<void(int)> done) {
                    commands.push_back(std::move(arguments));
                    pending.push_back(std::move(done));
                },
                mainThread,
                log,
                {std::move(helper), "/opt/kelvra-hub/Resources/keyboard-access.html"}};
    }

    std::shared_ptr<InMemorySettingsStore> defaults = std::make_shared<InMemorySettingsStore>();
    std::shared_ptr<ManualMainThreadExecutor> mainThread =
        std::make_shared<ManualMainThreadExecutor>();
    std::shared_ptr<testing::RecordingLog> log = std::make_shared<testing::RecordingLog>();
    std::optional<bool> tapOpens = false;
    std::vector<ClickerKeystroke> probedKeystrokes;
    std::vector<std::vector<std::string>> commands;
    std::vector<std::function<void(int)>> pending;
};

TEST_F(KeyboardAccessPermissionProviderTest, StatusFollowsTheTapAndWhetherAccessWasEverAsked) {
    struct Row {
        std::optional<bool> tapOpens;  // absent: another session is at the seat
        std::optional<bool> recorded;
        Status expected;
        bool recordedAfter;
    };
    const Row rows[] = {
        {true, false, Status::granted, true},
        {false, std::nullopt, Status::notDetermined, false},
        {false, true, Status::denied, true},
        // Away nothing is concluded: one who had access is not told it is denied.
        {std::nullopt, std::nullopt, Status::notDetermined, false},
        {std::nullopt, true, Status::granted, true},
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

// Access is judged by the devices with an assigned key, so the probe is told the keys assigned
// when it runs, not those of when the provider was made.
TEST_F(KeyboardAccessPermissionProviderTest, ProbesForTheKeysAssignedNow) {
    auto provider = makeProvider();
    ClickerInputConfigurationStore store(defaults);
    auto configuration = store.configuration();
    configuration.previous = ClickerKeystroke{ClickerKeyCode::pageUp, 0, "Page Up"};
    configuration.next = ClickerKeystroke{96, 0, "F5"};
    ASSERT_TRUE(store.setConfiguration(configuration));
    EXPECT_EQ(provider.authorizationStatus(), Status::notDetermined);
    EXPECT_THAT(probedKeystrokes, ElementsAre(configuration.previous, configuration.next));
}

// pkexec runs the helper as root as whatever it has become by then: one that anybody but root
// could change (itself or a directory above it) is never run and the request is answered at
// once; a link is run by its resolved path, so that it cannot be swapped afterwards.
TEST_F(KeyboardAccessPermissionProviderTest, ARequestRunsOnlyARootOwnedHelperAndProbesAgain) {
    const testing::TemporaryDirectory scratch;
    const fs::path writable = scratch.path() / "writable", open = scratch.path() / "open";
    fs::copy_file(kRootsOwnProgram, writable);
    fs::permissions(writable, fs::perms::all);
    fs::create_directory(open);
    fs::permissions(open, fs::perms::all);
    fs::copy_file(kRootsOwnProgram, open / "helper");  // root's own, in an open directory
    fs::create_symlink(kRootsOwnProgram, scratch.path() / "link");
    std::vector<bool> answers;
    const auto answer = [&](bool granted) { answers.push_back(granted); };
    for (const fs::path& helper : {writable, open / "helper", scratch.path() / "missing"}) {
        makeProvider(helper).requestAccess(answer);
    }
    mainThread->runPending();
    EXPECT_TRUE(commands.empty());
    EXPECT_THAT(answers, ElementsAre(false, false, false));

    answers.clear();
    auto provider = makeProvider(scratch.path() / "link");
    provider.requestAccess(answer);
    EXPECT_EQ(defaults->boolean(kRecordedKey), true);
    ASSERT_THAT(commands, ElementsAre(ElementsAre("pkexec", kRootsOwnProgram)));

    tapOpens = true;
    std::async(std::launch::async, [&] { pending[0](0); }).wait();
    EXPECT_TRUE(answers.empty());  // only on the main thread
    mainThread->runPending();
    EXPECT_THAT(answers, ElementsAre(true));

    tapOpens = false;
    provider.requestAccess(answer);
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
        // The application ignores the stop signals; pkexec's helper must not keep them.
        {{"sh", "-c", testing::kFailsOnInheritedSignals}, 0},
    };
    const testing::ParentSignalSettings parentSignals;
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

// The helper as the bundle holds it, run as root in a mount namespace of its own where
// /etc/udev/rules.d and /usr/sbin are scratch directories: it must write the rule it carries to
// the fixed place and call the tools of its own PATH, whatever the environment says.
TEST(KeyboardAccessHelperTest, InstallsItsOwnRuleWhereverTheEnvironmentPoints) {
    if (::geteuid() != 0 || !fs::is_directory("/etc/udev/rules.d")) {
        GTEST_SKIP() << "needs root and /etc/udev/rules.d";
    }
    const testing::TemporaryDirectory scratch;
    const auto calls = scratch.path() / "calls";
    for (const std::string tool : {"modprobe", "udevadm"}) {
        testing::writeExecutable(
            scratch.path() / "sbin" / tool,
            "#!/bin/sh\necho \"" + tool + " $*\" >>\"" + calls.string() + "\"\n");
    }
    fs::create_directory(scratch.path() / "rules.d");
    const auto helper = fs::path(KELVRA_TEST_BUNDLE_DIR) / "bin/kelvra-hub-keyboard-access";
    const std::string mounts =
        "/usr/bin/mount --bind \"$1/rules.d\" /etc/udev/rules.d && "
        "/usr/bin/mount --bind \"$1/sbin\" /usr/sbin && exec \"$2\"";
    const auto result = testing::runProcess(
        "/usr/bin/unshare",
        {"--mount", "--propagation", "private", "/bin/sh", "-c", mounts, "sh",
         scratch.path().string(), helper.string()},
        {{"PATH", "/usr/bin:/bin"},
         {"KELVRA_HUB_UDEV_RULES_DIR", (scratch.path() / "elsewhere").string()}});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;

    EXPECT_THAT(testing::readLines(calls),
                ElementsAre("modprobe uinput", "udevadm control --reload",
                            "udevadm trigger --action=change --subsystem-match=input",
                            "udevadm trigger --action=change --subsystem-match=misc "
                            "--sysname-match=uinput",
                            "udevadm settle --timeout=10"));
    // uaccess becomes access in 73-seat-late.rules, so the rule must sort before it.
    const auto installed = scratch.path() / "rules.d/70-kelvra-hub-keyboard-access.rules";
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path() / "rules.d"), {}), 1);
    EXPECT_EQ(testing::modeOf(installed), 0644u);
    EXPECT_EQ(testing::readFile(installed),
              testing::readFile(fs::path(KELVRA_TEST_SOURCE_DIR) /
                                "data/70-kelvra-hub-keyboard-access.rules"));
}

}  // namespace
}  // namespace kelvra
