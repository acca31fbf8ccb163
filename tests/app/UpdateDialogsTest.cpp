// SPDX-License-Identifier: MIT
#include <cstdlib>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

#include "app/UpdateDialogs.h"
#include "status_bar/qt/Browser.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;

QAbstractButton* buttonTitled(QMessageBox& box, const QString& title) {
    for (auto* button : box.buttons()) {
        if (button->text() == title) {
            return button;
        }
    }
    return nullptr;
}

int visibleDialogs() {
    int count = 0;
    for (auto* widget : QApplication::topLevelWidgets()) {
        count += qobject_cast<QMessageBox*>(widget) != nullptr && widget->isVisible();
    }
    return count;
}

TEST(UpdateDialogsTest, ShowsOneDialogThatTheLatestOutcomeReplaces) {
    Browser browser;
    UpdateDialogs dialogs("1.0.0", browser);

    dialogs.showUpToDate(UpdaterError::noUpdateFound("1.0.0"));
    QMessageBox* first = dialogs.currentDialog();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->informativeText().toStdString(),
              UpdaterError::noUpdateFound("1.0.0").description());

    const auto failure = UpdaterError::feedUnavailable("https://example.invalid/feed.json", 503);
    dialogs.showUpdateError(failure);
    EXPECT_EQ(dialogs.currentDialog(), first);
    EXPECT_EQ(first->informativeText().toStdString(), failure.description());
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
    QAbstractButton* download = buttonTitled(*dialog, QStringLiteral("Open Download Page"));
    ASSERT_NE(download, nullptr);
    QTest::mouseClick(download, Qt::LeftButton);
    // The stand-in creates the file before it writes the line: wait for the line.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return testing::readFile(record) == "https://example.invalid/download\n"; }, 10000))
        << testing::readFile(record);
    setenv("PATH", savedPath.c_str(), 1);
}

}  // namespace
}  // namespace kelvra
