// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPalette>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "status_bar/qt/TrayIcon.h"

namespace kelvra {
namespace {

// How light the glyph's centre is, 0 (black) to 255 (white).
int centreLightness(const QIcon& icon) {
    const QImage image = icon.pixmap(22, 22).toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2).lightness();
}

QPalette paletteWithWindow(const QColor& window) {
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, window);
    return palette;
}

TEST(TrayIconTest, TheGlyphStaysVisibleWhenThePanelTurnsDark) {
    const QPalette original = QApplication::palette();
    QApplication::setPalette(paletteWithWindow(QColor(0xf6, 0xf5, 0xf4)));
    TrayIcon tray;
    EXPECT_LT(centreLightness(tray.icon()), 100);

    QApplication::setPalette(paletteWithWindow(QColor(0x24, 0x24, 0x24)));
    EXPECT_GT(centreLightness(tray.icon()), 155);
    QApplication::setPalette(original);
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
