// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "core/Error.h"
#include "shell/login_item/linux/DesktopEntry.h"
#include "shell/login_item/linux/MainAppLoginItemService.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;
using Status = LoginItemStatus;

class MainAppLoginItemServiceTest : public ::testing::Test {
protected:
    MainAppLoginItemServiceTest() { testing::writeExecutable(executable); }

    MainAppLoginItemService service(std::optional<fs::path> program) const {
        return MainAppLoginItemService(entry, std::move(program), {{"PATH", ""}});
    }

    /// Fails the test with the validator's report; skips when the validator is not installed.
    void expectValidEntry() const {
        const fs::path validator = "/usr/bin/desktop-file-validate";
        if (!fs::exists(validator)) {
            GTEST_SKIP() << "desktop-file-validate is not installed (package desktop-file-utils)";
        }
        const auto result = testing::runProcess(validator, {entry.string()}, {});
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
    const fs::path odd = home.path() / "My Apps" / "100% \"K\" $HOME`x` \\ josé" / "kelvra-hub";
    testing::writeExecutable(odd);
    for (const fs::path& program : {executable, odd}) {
        SCOPED_TRACE(program);
        auto item = service(program);
        ASSERT_TRUE(item.registerItem());
        EXPECT_EQ(item.status(), Status::enabled);
        const auto lines = testing::readLines(entry);
        EXPECT_NE(
            std::find(lines.begin(), lines.end(), "Exec=" + *DesktopEntry::execValue(program)),
            lines.end());
        EXPECT_EQ(testing::modeOf(entry), 0644u);
        expectValidEntry();

        ASSERT_TRUE(item.unregister());
        EXPECT_FALSE(fs::exists(entry));
        EXPECT_EQ(item.status(), Status::notRegistered);
        EXPECT_TRUE(item.unregister());
    }
}

TEST_F(MainAppLoginItemServiceTest, RegisteringFailsClearlyWhereNoEntryCanBeWritten) {
    const auto failure = [](const std::expected<void, LoginItemError>& result) {
        return result ? std::nullopt : std::optional(result.error().kind());
    };
    EXPECT_EQ(failure(service(std::nullopt).registerItem()),
              LoginItemError::Kind::executableNotFound);
    testing::writeFile(home.path() / "config", "a file where the folder should be");
    EXPECT_EQ(failure(service(executable).registerItem()), LoginItemError::Kind::writeEntry);
}

TEST_F(MainAppLoginItemServiceTest, OpeningTheSettingsStartsTheInstalledToolOrNothing) {
    const fs::path bin = home.path() / "bin";
    const fs::path marker = home.path() / "started";
    testing::writeExecutable(bin / "gnome-session-properties",
                             "#!/bin/sh\necho \"started $#\" > '" + marker.string() + "'\n");
    MainAppLoginItemService(entry, executable, {{"PATH", "/nonexistent"}})
        .openSystemSettingsLoginItems();
    MainAppLoginItemService(entry, executable, {{"PATH", bin.string()}})
        .openSystemSettingsLoginItems();
    // The tool runs detached; its mark appears once it has run.
    EXPECT_TRUE(testing::eventually([&] { return testing::readFile(marker) == "started 0\n"; }));
}

}  // namespace
}  // namespace kelvra
