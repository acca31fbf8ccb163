// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "shell/login_item/linux/DesktopEntry.h"

namespace kelvra {
namespace {

TEST(DesktopEntryTest, ExecValuesFollowTheQuotingAndEscapingRules) {
    const struct {
        std::string path;
        std::optional<std::string> exec;
    } rows[] = {
        {"/opt/kelvra-hub/bin/kelvra-hub", "/opt/kelvra-hub/bin/kelvra-hub"},
        {"/home/a b/k", "\"/home/a b/k\""},
        {"/x/100%/k", "/x/100%%/k"},
        {"/x/a\"b", "\"/x/a\\\\\"b\""},
        {"/x/$HOME", "\"/x/\\\\$HOME\""},
        {"relative/k", std::nullopt},
        {"/x/tab\there", std::nullopt},
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
        {"switched off, with the user's own keys and comments",
         "# mine\n[Desktop Entry]\nName[de]=K\n# flag\nExec=/o --flag\nHidden=true\nX-C=1\n"
         "X-GNOME-Autostart-enabled=false\n",
         "# mine\n[Desktop Entry]\nName[de]=K\n# flag\nExec=/k\nHidden=false\nX-C=1\n"
         "X-GNOME-Autostart-enabled=true\nType=Application\nName=Kelvra Hub\n"},
        {"no final line feed", "[Desktop Entry]\nName=K\nType=Application\nExec=/old",
         "[Desktop Entry]\nName=K\nType=Application\nExec=/k\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(DesktopEntry::enabledEntry(row.before, "/k"), row.after);
    }
}

}  // namespace
}  // namespace kelvra
