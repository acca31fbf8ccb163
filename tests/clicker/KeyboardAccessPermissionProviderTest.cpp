// SPDX-License-Identifier: MIT
#include <filesystem>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
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
using ::testing::ElementsAreArray;
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

/// Runs `command` as root in a mount namespace of its own over `scratch`: /etc/udev/rules.d is
/// its rules.d, /usr/sbin holds stand-ins for modprobe and udevadm that append their arguments
/// to its calls file (udevadm fails while its no-udev file exists) and /opt/kelvra-hub is the
/// build tree's bundle.
testing::ProcessResult runInScratchSystem(const fs::path& scratch,
                                          const std::vector<std::string>& command,
                                          const std::map<std::string, std::string>& environment) {
    for (const std::string tool : {"modprobe", "udevadm"}) {
        testing::writeExecutable(scratch / "sbin" / tool,
                                 "#!/bin/sh\ncd \"" + scratch.string() +
                                     "\"\n[ ! -e no-udev ] || exit 1\necho \"" + tool +
                                     " $*\" >>calls\n");
    }
    fs::create_directories(scratch / "rules.d");
    fs::create_directories(scratch / "opt");
    fs::create_directory_symlink(KELVRA_TEST_BUNDLE_DIR, scratch / "opt/kelvra-hub");
    const std::string mounts =
        "cd \"$1\" && shift && mount --bind rules.d /etc/udev/rules.d && "
        "mount --bind sbin /usr/sbin && mount --bind opt /opt && exec \"$@\"";
    std::vector<std::string> arguments = {"--mount", "--propagation", "private", "/bin/sh",
                                          "-c",      mounts,          "sh",      scratch};
    arguments.insert(arguments.end(), command.begin(), command.end());
    return testing::runProcess("/usr/bin/unshare", arguments, environment);
}

bool canMountScratchSystems() {
    return ::geteuid() == 0 && fs::is_directory("/etc/udev/rules.d") && fs::is_directory("/opt");
}

const fs::path kRuleName = "70-kelvra-hub-keyboard-access.rules";

std::string currentRule() {
    return testing::readFile(fs::path(KELVRA_TEST_SOURCE_DIR) / "data" / kRuleName);
}

// The helper as the bundle holds it writes the rule it carries to the fixed place and calls the
// tools of its own PATH, whatever the environment says. An upgrade brings the rule an earlier
// version installed, which covered keyboards alone, up to the current text, so that clickers
// with only a few keys are covered too; it creates no rule where access was never granted and
// leaves every other file alone, the administrator's own file of our name included.
TEST(KeyboardAccessHelperTest, InstallsItsOwnRuleAndAnUpgradeRefreshesOnlyThatRule) {
    if (!canMountScratchSystems()) {
        GTEST_SKIP() << "needs root, /opt and /etc/udev/rules.d";
    }
    const std::string earlierRule =
        "# SPDX-License-Identifier: MIT\n"
        "# Kelvra Hub keyboard access: lets the user at the seat (logind's \"uaccess\") read "
        "keyboards and\n"
        "SUBSYSTEM==\"input\", KERNEL==\"event*\", ENV{ID_INPUT_KEYBOARD}==\"1\", "
        "TAG+=\"uaccess\"\n";
    const std::string administrators = "# Our own keyboards only\n";
    const std::vector<std::string> reloaded = {
        "udevadm control --reload", "udevadm trigger --action=change --subsystem-match=input"};
    const std::vector<std::string> installed = {
        "modprobe uinput", reloaded[0], reloaded[1],
        "udevadm trigger --action=change --subsystem-match=misc --sysname-match=uinput",
        "udevadm settle --timeout=10"};
    const std::vector<std::string> helper = {"/opt/kelvra-hub/bin/kelvra-hub-keyboard-access"};
    const std::vector<std::string> upgrade = {
        "/bin/sh", fs::path(KELVRA_TEST_SOURCE_DIR) / "packaging/deb/postinst", "configure",
        "0.9.0"};
    struct Row {
        const char* name;
        std::optional<std::string> before;
        std::optional<std::string> after;
        std::vector<std::string> calls;
        bool udevRuns = true;
        std::string dpkgRoot = "";  // dpkg's --root, which it always tells its scripts
        bool byHelper = false;      // the helper itself, as a request runs it; else an upgrade
    };
    const Row rows[] = {
        {"granted", std::nullopt, currentRule(), installed, true, "", true},
        {"earlier rule", earlierRule, currentRule(), reloaded},
        {"no rule", std::nullopt, std::nullopt, {}},
        {"current rule", currentRule(), currentRule(), {}},
        {"the administrator's file", administrators, administrators, {}},
        // A chroot or a container: the rule applies once udev starts.
        {"no udev running", earlierRule, currentRule(), {}, false},
        {"dpkg --root", earlierRule, earlierRule, {}, true, "/srv/target"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const testing::TemporaryDirectory scratch;
        const auto rule = scratch.path() / "rules.d" / kRuleName;
        const auto foreign = scratch.path() / "rules.d/60-kelvra-hub-keyboard-access.rules";
        testing::writeFile(foreign, earlierRule);
        if (row.before) {
            testing::writeFile(rule, *row.before);
            fs::permissions(rule, fs::perms::owner_read | fs::perms::owner_write);
            ASSERT_EQ(::chown(rule.c_str(), 1000, 1000), 0);
        }
        if (!row.udevRuns) {
            testing::writeFile(scratch.path() / "no-udev", "");
        }
        const auto result =
            runInScratchSystem(scratch.path(), row.byHelper ? helper : upgrade,
                               {{"PATH", "/usr/bin:/bin"},
                                {"DPKG_ROOT", row.dpkgRoot},
                                {"KELVRA_HUB_UDEV_RULES_DIR", scratch.path() / "elsewhere"}});
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;

        EXPECT_THAT(testing::readLines(scratch.path() / "calls"), ElementsAreArray(row.calls));
        EXPECT_EQ(testing::readFile(foreign), earlierRule);
        EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path() / "rules.d"), {}),
                  row.after ? 2 : 1);
        if (row.after) {
            // uaccess becomes access in 73-seat-late.rules, so the rule must sort before it.
            EXPECT_EQ(testing::readFile(rule), *row.after);
            const bool rewritten = row.after != row.before;
            struct stat status {};
            ASSERT_EQ(::stat(rule.c_str(), &status), 0);
            EXPECT_EQ(status.st_uid, rewritten ? 0u : 1000u);
            EXPECT_EQ(testing::modeOf(rule), rewritten ? 0644u : 0600u);
        }
    }
}

}  // namespace
}  // namespace kelvra
