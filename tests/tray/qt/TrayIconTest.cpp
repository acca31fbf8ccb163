// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "tray/qt/TrayIcon.h"

namespace kelvra {
namespace {

TEST(TrayIconTest, TheStatusLineShowsItsSymbolOnce) {
    // Rows: menus that draw icons get the symbol in colour as the icon, others in the text.
    for (const bool iconsShown : {true, false}) {
        QCoreApplication::setAttribute(Qt::AA_DontShowIconsInMenus, !iconsShown);
        TrayIcon tray;
        tray.setStatusLine(QStringLiteral("✕"), Qt::red, QStringLiteral("Kelvra Hub server error"));
        const QAction* line = tray.menu().actions().first();
        EXPECT_EQ(line->text().contains(QStringLiteral("✕")), !iconsShown) << iconsShown;
        EXPECT_EQ(line->icon().isNull(), !iconsShown) << iconsShown;
    }
    QCoreApplication::setAttribute(Qt::AA_DontShowIconsInMenus, false);
}

TEST(TrayIconTest, TheWelcomeWindowsMenuIsAPopupOfThatWindowBelowItsButton) {
    // Wayland turns a popup without a parent window into a window of its own.
    QWidget window;
    auto* button = new QPushButton(QStringLiteral("Show menu"), &window);
    button->move(40, 60);
    window.resize(300, 200);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    TrayIcon tray;
    tray.popUpMenuBelow(button);
    ASSERT_TRUE(tray.menu().isVisible());
    EXPECT_EQ(tray.menu().windowHandle()->transientParent(), window.windowHandle());
    EXPECT_EQ(tray.menu().pos(), button->mapToGlobal(QPoint(0, button->height())));
    tray.menu().hide();
}

}  // namespace
}  // namespace kelvra
