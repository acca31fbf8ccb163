// SPDX-License-Identifier: MIT
// The clipboard on Wayland, run in a headless Weston (tests/app/weston-run.sh). That compositor
// has no seat, so no client may own the clipboard: what the copy reports then depends on
// `wl-copy` alone, a stand-in first on PATH or the real one.
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

#include <QApplication>

#include "desktop/Clipboard.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;

TEST(ClipboardTest, OnWaylandACopyIsReportedOnlyWhenWlCopyTookIt) {
    if (QGuiApplication::platformName() != QStringLiteral("wayland")) {
        GTEST_SKIP() << "run under tests/app/weston-run.sh";
    }
    testing::TemporaryDirectory directory;
    const fs::path received = directory.path() / "received";
    const std::string savedPath = std::getenv("PATH");
    const struct {
        const char* name;
        std::optional<std::string> standIn;
        bool copied;
    } rows[] = {
        {"wl-copy serves it", "/bin/cat > '" + received.string() + "'\n", true},
        {"wl-copy fails", "/bin/cat > /dev/null; exit 1\n", false},
        {"no wl-copy", std::nullopt, false},
        {"the real wl-copy, which needs a seat", "exec /usr/bin/wl-copy \"$@\"\n", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path bin = directory.path() / row.name;
        fs::create_directories(bin);
        if (row.standIn) {
            testing::writeExecutable(bin / "wl-copy", "#!/bin/sh\n" + *row.standIn);
        }
        setenv("PATH", bin.c_str(), 1);
        EXPECT_EQ(Clipboard::copyPlainText(QStringLiteral("http://192.168.1.20:3000/")),
                  row.copied);
        setenv("PATH", savedPath.c_str(), 1);
    }
    EXPECT_EQ(testing::readFile(received), "http://192.168.1.20:3000/");
}

}  // namespace
}  // namespace kelvra

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", std::getenv("WAYLAND_DISPLAY") ? "wayland" : "offscreen", 1);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
