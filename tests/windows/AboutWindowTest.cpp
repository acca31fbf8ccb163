// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "WidgetTestSupport.h"
#include "windows/AboutWindow.h"

namespace kelvra {
namespace {

TEST(AboutWindowTest, ShowsTheVersionAndOpensTheWebsite) {
    std::vector<QUrl> opened;
    AboutWindow window(AppVersionInfo(InfoDictionary{}), QIcon(),
                       [&opened](const QUrl& url) { opened.push_back(url); });
    testing::showAndWait(&window);
    EXPECT_EQ(window.findChild<QLabel*>("aboutVersionLabel")->text(), "Version: Unknown");
    EXPECT_FALSE(window.findChild<QLabel*>("aboutIcon")->pixmap().isNull());

    QTest::mouseClick(window.findChild<QAbstractButton*>("aboutWebsiteButton"), Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], AboutWindow::websiteURL());
    testing::saveScreenshots(&window, "about");

    // By keyboard alone: the link is a Tab stop, Return opens it, Escape closes; a screen
    // reader finds a window.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&window)->role(), QAccessible::Window);
    window.setFocus();
    QTest::keyClick(&window, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), window.findChild<QWidget*>("aboutWebsiteButton"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(opened.size(), 2u);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace kelvra
