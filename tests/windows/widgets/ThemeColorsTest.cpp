// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

#include "WidgetTestSupport.h"
#include "desktop/ColorSchemePalette.h"
#include "windows/widgets/ThemeColors.h"

namespace kelvra {
namespace {

using Role = ThemeColors::Role;

TEST(ThemeColorsTest, TextRolesFollowTheDesktopBetweenLightAndDark) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* secondary = new QLabel("secondary");
    auto* red = new QLabel("red");
    layout->addWidget(secondary);
    layout->addWidget(red);
    ThemeColors::setTextRole(secondary, Role::secondaryLabel);
    ThemeColors::setTextRole(red, Role::green);
    ThemeColors::setTextRole(red, Role::red);  // a later role replaces the earlier one

    for (const QPalette& palette : {darkPalette(), testing::lightPalette(), darkPalette()}) {
        QApplication::setPalette(palette);
        QApplication::processEvents();
        SCOPED_TRACE(ThemeColors::isDark(palette) ? "dark" : "light");
        EXPECT_EQ(ThemeColors::isDark(window.palette()), ThemeColors::isDark(palette));
        EXPECT_EQ(secondary->palette().color(QPalette::WindowText),
                  ThemeColors::color(Role::secondaryLabel, palette));
        EXPECT_EQ(red->palette().color(QPalette::WindowText),
                  ThemeColors::color(Role::red, palette));
        EXPECT_LT(ThemeColors::color(Role::secondaryLabel, palette).alphaF(), 1.0);
    }
    QApplication::setPalette(testing::lightPalette());
}

}  // namespace
}  // namespace kelvra
