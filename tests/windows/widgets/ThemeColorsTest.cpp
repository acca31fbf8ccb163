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

// A focus ring stands 3:1 against the window, link text 4.5:1, whichever accent the desktop has.
TEST(ThemeColorsTest, FocusRingsAndLinksStandOutInLightAndDark) {
    for (const QPalette& palette : {testing::lightPalette(), darkPalette()}) {
        SCOPED_TRACE(ThemeColors::isDark(palette) ? "dark" : "light");
        const QColor window = palette.color(QPalette::Window);
        EXPECT_GE(ThemeColors::contrast(ThemeColors::color(Role::focusRing, palette), window), 3);
        for (const Role role : {Role::accent, Role::link}) {
            EXPECT_GE(
                ThemeColors::contrast(
                    ThemeColors::legibleOn(ThemeColors::color(role, palette), window, 4.5), window),
                4.5);
        }
    }
    EXPECT_NEAR(ThemeColors::contrast(Qt::black, Qt::white), 21, 0.01);
}

}  // namespace
}  // namespace kelvra
