// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

#include "core/Error.h"
#include "shell/login_item/linux/DesktopEntry.h"
#include "shell/login_item/linux/MainAppLoginItemService.h"
#include "shell/login_item/linux/StartupApplicationsTool.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Status = LoginItemStatus;

void writeExecutable(const fs::path& path, const std::string& script = "#!/bin/sh\n") {
    testing::writeFile(path, script);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

std::optional<fs::path> findProgram(const std::string& name) {
    for (const char* directory : {"/usr/bin", "/bin", "/usr/local/bin"}) {
        if (fs::exists(fs::path(directory) / name)) {
            return fs::path(directory) / name;
        }
    }
    return std::nullopt;
}

class MainAppLoginItemServiceTest : public ::testing::Test {
protected:
    MainAppLoginItemServiceTest() { writeExecutable(executable); }

    MainAppLoginItemService service(std::optional<fs::path> program) const {
        return MainAppLoginItemService(entry, std::move(program), {{"PATH", ""}});
    }

    /// Fails the test with the validator's report; skips when the validator is not installed.
    void expectValidEntry() const {
        const auto validator = findProgram("desktop-file-validate");
        if (!validator) {
            GTEST_SKIP() << "desktop-file-validate is not installed (package desktop-file-utils)";
        }
        const auto result = testing::runProcess(*validator, {entry.string()}, {});
        EXPECT_EQ(result.exitStatus, 0) << result.standardOutput << result.standardError;
        EXPECT_EQ(result.standardOutput, "");
    }

    testing::TemporaryDirectory home;
    const fs::path executable = home.path() / "opt" / "kelvra-hub" / "bin" / "kelvra-hub";
    const fs::path entry = home.path() / "config" / "autostart" / "com.morvane.KelvraHub.desktop";
};

TEST_F(MainAppLoginItemServiceTest, TheEntryFileGivesEachOfTheFourStatuses) {
    const std::string plain = "[Desktop Entry]\nType=Application\nName=Kelvra Hub\nExec=/k\n";
    const struct {
        std::string name;
        std::optional<std::string> contents;  ///< absent: no entry file
        bool executableKnown;
        Status status;
    } rows[] = {
        {"no entry", std::nullopt, true, Status::notRegistered},
        {"no entry, no executable", std::nullopt, false, Status::notFound},
        {"plain entry", plain, true, Status::enabled},
        {"plain entry, no executable", plain, false, Status::enabled},
        {"hidden", plain + "Hidden=true\n", true, Status::requiresApproval},
        {"hidden, spaced", plain + "Hidden = true\n", true, Status::requiresApproval},
        {"GNOME switch off", plain + "X-GNOME-Autostart-enabled=false\n", true,
         Status::requiresApproval},
        {"GNOME switch on", plain + "X-GNOME-Autostart-enabled=true\n", true, Status::enabled},
        {"not hidden", plain + "Hidden=false\n", true, Status::enabled},
        {"hidden in another group", plain + "[Desktop Action quit]\nName=Q\nHidden=true\n", true,
         Status::enabled},
        {"a comment that mentions it", plain + "# Hidden=true\n", true, Status::enabled},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(entry);
        if (row.contents) {
            testing::writeFile(entry, *row.contents);
        }
        EXPECT_EQ(service(row.executableKnown ? std::optional(executable) : std::nullopt).status(),
                  row.status);
    }
    fs::remove(entry);
    EXPECT_EQ(service(home.path() / "missing").status(), Status::notFound);
    EXPECT_EQ(service(fs::path("kelvra-hub")).status(), Status::notFound);
}

TEST_F(MainAppLoginItemServiceTest, RegisteringWritesAValidEntryThatStartsTheExecutable) {
    auto item = service(executable);
    ASSERT_TRUE(item.registerItem());
    EXPECT_EQ(item.status(), Status::enabled);
    const auto lines = testing::readLines(entry);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "[Desktop Entry]");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Exec=" + executable.string()), lines.end());
    struct stat status {};
    ASSERT_EQ(::stat(entry.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
    expectValidEntry();

    ASSERT_TRUE(item.unregister());
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_EQ(item.status(), Status::notRegistered);
    EXPECT_TRUE(item.unregister());
}

TEST_F(MainAppLoginItemServiceTest, AnExecutableWithReservedCharactersIsQuotedValidly) {
    const fs::path odd = home.path() / "My Apps" / "100% \"K\" $HOME`x` \\ josé" / "kelvra-hub";
    writeExecutable(odd);
    auto item = service(odd);
    ASSERT_TRUE(item.registerItem());
    expectValidEntry();
}

TEST_F(MainAppLoginItemServiceTest, RegisteringAnEntryTheUserSwitchedOffKeepsTheirContent) {
    testing::writeFile(entry,
                       "# Kept by the user\n"
                       "[Desktop Entry]\n"
                       "Name=My Kelvra\n"
                       "Name[de]=Mein Kelvra\n"
                       "Type=Application\n"
                       "# started with a flag\n"
                       "Exec=/usr/bin/other --flag\n"
                       "X-Custom=1\n"
                       "Hidden=true\n"
                       "X-GNOME-Autostart-enabled=false\n"
                       "\n"
                       "[Desktop Action extra]\n"
                       "Name=Extra\n"
                       "Exec=/usr/bin/extra\n");
    auto item = service(executable);
    ASSERT_EQ(item.status(), Status::requiresApproval);
    ASSERT_TRUE(item.registerItem());
    EXPECT_EQ(item.status(), Status::enabled);
    EXPECT_EQ(testing::readFile(entry),
              "# Kept by the user\n"
              "[Desktop Entry]\n"
              "Name=My Kelvra\n"
              "Name[de]=Mein Kelvra\n"
              "Type=Application\n"
              "# started with a flag\n"
              "Exec=" +
                  executable.string() +
                  "\n"
                  "X-Custom=1\n"
                  "Hidden=false\n"
                  "X-GNOME-Autostart-enabled=true\n"
                  "\n"
                  "[Desktop Action extra]\n"
                  "Name=Extra\n"
                  "Exec=/usr/bin/extra\n");
}

TEST_F(MainAppLoginItemServiceTest, RegisteringFailsClearlyWhereNoEntryCanBeWritten) {
    testing::writeFile(home.path() / "config", "a file where the folder should be");
    const struct {
        std::string name;
        std::optional<fs::path> executable;
        LoginItemError::Kind kind;
    } rows[] = {
        {"no executable", std::nullopt, LoginItemError::Kind::executableNotFound},
        {"deleted executable", home.path() / "gone", LoginItemError::Kind::executableNotFound},
        {"autostart folder blocked", executable, LoginItemError::Kind::writeEntry},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto registered = service(row.executable).registerItem();
        ASSERT_FALSE(registered);
        EXPECT_EQ(registered.error().kind(), row.kind);
        EXPECT_TRUE(registered.error().description().starts_with("Kelvra Hub could not"))
            << registered.error().description();
    }
}

TEST(DesktopEntryTest, ExecValuesFollowTheQuotingAndEscapingRules) {
    const struct {
        std::string path;
        std::optional<std::string> exec;
    } rows[] = {
        {"/opt/kelvra-hub/bin/kelvra-hub", "/opt/kelvra-hub/bin/kelvra-hub"},
        {"/opt/josé/kelvra-hub", "/opt/josé/kelvra-hub"},
        {"/home/a b/k", "\"/home/a b/k\""},
        {"/x/100%/k", "/x/100%%/k"},
        {"/x/50% off/k", "\"/x/50%% off/k\""},
        {"/x/a\"b", "\"/x/a\\\\\"b\""},
        {"/x/$HOME", "\"/x/\\\\$HOME\""},
        {"/x/a`b", "\"/x/a\\\\`b\""},
        {"/x/a\\b", "\"/x/a\\\\\\\\b\""},
        {"/x/it's", "\"/x/it's\""},
        {"/x/a=b", "/x/a=b"},
        {"relative/k", std::nullopt},
        {"/x/tab\there", std::nullopt},
        {"/x/line\nbreak", std::nullopt},
        {"/x/\xff", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(DesktopEntry::execValue(row.path), row.exec);
    }
}

TEST(DesktopEntryTest, EnablingAddsWhatIsMissingAndDropsOnlyWhatNoReaderAccepts) {
    const std::string fresh =
        "[Desktop Entry]\nType=Application\nName=Kelvra Hub\nExec=/k\n"
        "Icon=com.morvane.KelvraHub\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    const struct {
        std::string name;
        std::string before;
        std::string after;
    } rows[] = {
        {"new file", "", fresh},
        {"keys missing",
         "[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n\n# next\n[Other]\nA=1\n",
         "[Desktop Entry]\nX-GNOME-Autostart-enabled=true\nType=Application\nName=Kelvra Hub\n"
         "Exec=/k\n\n# next\n[Other]\nA=1\n"},
        {"stray text before the group",
         "# note\ngarbage\n[Desktop Entry]\nName=K\nType=Application\n",
         "# note\n[Desktop Entry]\nName=K\nType=Application\nExec=/k\n"},
        {"no main group", "# note\n[Other]\nA=1\n", "# note\n" + fresh + "\n[Other]\nA=1\n"},
        {"repeated Exec and CRLF",
         "[Desktop Entry]\r\nExec=/a\r\nName=K\r\nExec=/b\r\nType=Application\r\n",
         "[Desktop Entry]\nExec=/k\nName=K\nType=Application\n"},
        {"no final line feed", "[Desktop Entry]\nName=K\nType=Application\nExec=/old",
         "[Desktop Entry]\nName=K\nType=Application\nExec=/k\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(DesktopEntry::enabledEntry(row.before, "/k"), row.after);
    }
}

TEST(StartupApplicationsToolTest, PrefersTheCurrentDesktopsTool) {
    testing::TemporaryDirectory bin;
    for (const char* tool :
         {"gnome-session-properties", "systemsettings", "xfce4-session-settings"}) {
        writeExecutable(bin.path() / tool);
    }
    const std::string path = "relative:" + bin.path().string();
    using Command = std::optional<std::vector<std::string>>;
    const auto at = [&](const std::string& tool) { return (bin.path() / tool).string(); };
    const struct {
        Environment environment;
        Command command;
    } rows[] = {
        {{{"PATH", path}, {"XDG_CURRENT_DESKTOP", "KDE"}},
         std::vector<std::string>{at("systemsettings"), "kcm_autostart"}},
        {{{"PATH", path}, {"XDG_CURRENT_DESKTOP", "XFCE"}},
         std::vector<std::string>{at("xfce4-session-settings")}},
        {{{"PATH", path}, {"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}},
         std::vector<std::string>{at("gnome-session-properties")}},
        {{{"PATH", path}, {"XDG_CURRENT_DESKTOP", "MATE"}},
         std::vector<std::string>{at("gnome-session-properties")}},
        {{{"PATH", path}}, std::vector<std::string>{at("gnome-session-properties")}},
        {{{"PATH", "/nonexistent"}, {"XDG_CURRENT_DESKTOP", "GNOME"}}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(environmentValue(row.environment, "XDG_CURRENT_DESKTOP").value_or("none"));
        EXPECT_EQ(StartupApplicationsTool::command(row.environment), row.command);
    }
}

TEST_F(MainAppLoginItemServiceTest, OpeningTheSettingsStartsTheInstalledToolOrNothing) {
    const fs::path bin = home.path() / "bin";
    const fs::path marker = home.path() / "started";
    writeExecutable(bin / "gnome-session-properties",
                    "#!/bin/sh\necho \"started $#\" > '" + marker.string() + "'\n");
    MainAppLoginItemService(entry, executable, {{"PATH", "/nonexistent"}})
        .openSystemSettingsLoginItems();
    MainAppLoginItemService(entry, executable, {{"PATH", bin.string()}})
        .openSystemSettingsLoginItems();
    // The tool runs detached; its mark appears once it has run.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (testing::readFile(marker) != "started 0\n" &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(testing::readFile(marker), "started 0\n");
}

}  // namespace
}  // namespace kelvra
