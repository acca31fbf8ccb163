// SPDX-License-Identifier: MIT
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTest>

#include "app/UpdateDialogs.h"
#include "desktop/Browser.h"
#include "shell/updates/UpdateFeed.h"
#include "support/SpawnedProcess.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;

int visibleDialogs() {
    int count = 0;
    for (auto* widget : QApplication::topLevelWidgets()) {
        count += qobject_cast<QMessageBox*>(widget) != nullptr && widget->isVisible();
    }
    return count;
}

// The second outcome is a hostile feed's error: what a feed sends is shown as text, never as
// markup with links in it.
TEST(UpdateDialogsTest, ShowsOneDialogThatTheLatestOutcomeReplaces) {
    testing::SpawnedProcess server(
        KELVRA_TEST_NODE,
        {(fs::path(KELVRA_TEST_SOURCE_DIR) / "tests/shell/fixtures/update-feed-server.js")
             .string()},
        {{"PATH", "/usr/bin:/bin"}});
    const auto port = server.readLine(std::chrono::seconds(10));
    ASSERT_TRUE(port) << "the feed server did not start";
    UpdateFeed::CheckConfiguration configuration;
    configuration.feedURL = "http://127.0.0.1:" + *port + "/hostile-link";
    const auto failure = UpdateFeed::check(configuration);
    ASSERT_FALSE(failure);

    Browser browser;
    UpdateDialogs dialogs("1.0.0", browser);
    dialogs.showUpToDate(UpdaterError::noUpdateFound("1.0.0"));
    QMessageBox* first = dialogs.currentDialog();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->informativeText().toStdString(),
              UpdaterError::noUpdateFound("1.0.0").description());

    dialogs.showUpdateError(failure.error());
    EXPECT_EQ(dialogs.currentDialog(), first);
    EXPECT_EQ(first->informativeText().toStdString(), failure.error().description());
    for (auto* label : first->findChildren<QLabel*>()) {
        EXPECT_TRUE(label->textFormat() == Qt::PlainText || label->text().isEmpty())
            << label->text().toStdString();
    }
    EXPECT_EQ(first->buttons().size(), 1);
    EXPECT_EQ(visibleDialogs(), 1);

    // Closed, the next outcome comes up in a dialog of its own.
    first->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.currentDialog() == nullptr; }, 10000));
    dialogs.showUpToDate(UpdaterError::noUpdateFound("1.0.0"));
    EXPECT_EQ(visibleDialogs(), 1);
}

TEST(UpdateDialogsTest, AnUpdateOpensItsDownloadPageInTheBrowser) {
    testing::TemporaryDirectory directory;
    const fs::path record = directory.path() / "opened";
    testing::writeExecutable(directory.path() / "xdg-open",
                             "#!/bin/sh\necho \"$1\" >> '" + record.string() + "'\n");
    const std::string savedPath = std::getenv("PATH");
    setenv("PATH", (directory.path().string() + ":/usr/bin:/bin").c_str(), 1);

    Browser browser;
    UpdateDialogs dialogs("1.0.0", browser);
    dialogs.showUpdateFound(UpdateItem{.version = "1.2.0",
                                       .build = "57",
                                       .minimumSystemVersion = std::nullopt,
                                       .releaseNotesURL = "https://example.invalid/notes",
                                       .downloadURL = "https://example.invalid/download"});
    QMessageBox* dialog = dialogs.currentDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->informativeText().contains(QStringLiteral("1.2.0 (57)")));
    EXPECT_TRUE(dialog->informativeText().contains(
        QStringLiteral("href=\"https://example.invalid/notes\"")));
    const auto buttons = dialog->buttons();
    const auto download =
        std::ranges::find(buttons, QStringLiteral("Open Download Page"), &QAbstractButton::text);
    ASSERT_NE(download, buttons.end());
    QTest::mouseClick(*download, Qt::LeftButton);
    // The stand-in creates the file before it writes the line: wait for the line.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return testing::readFile(record) == "https://example.invalid/download\n"; }, 10000))
        << testing::readFile(record);
    setenv("PATH", savedPath.c_str(), 1);
}

}  // namespace
}  // namespace kelvra
