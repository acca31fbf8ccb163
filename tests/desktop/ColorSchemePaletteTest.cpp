// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QStyle>
#include <QTest>

#include "desktop/ColorSchemePalette.h"
#include "support/PortalStandIn.h"

namespace kelvra {
namespace {

bool looksDark(const QWidget& widget) {
    return widget.palette().color(QPalette::Window).lightnessF() < 0.5;
}

class ColorSchemePaletteTest : public ::testing::Test {
protected:
    void TearDown() override { QApplication::setPalette(QApplication::style()->standardPalette()); }
};

TEST_F(ColorSchemePaletteTest, OpenWindowsAndAlertsFollowEachChangeOfTheDesktopsChoice) {
    testing::PortalStandIn portal({"1"});
    ColorSchemePalette palette(
        makePortalColorSchemeSource(QString::fromStdString(portal.address())));
    QWidget window;
    window.show();
    QMessageBox alert(QMessageBox::Warning, QStringLiteral("Kelvra Hub"), QStringLiteral("Alert"));
    alert.show();
    EXPECT_TRUE(looksDark(window) && looksDark(alert));

    for (const auto& [scheme, dark] :
         {std::pair{"2", false}, std::pair{"1", true}, std::pair{"0", false}}) {
        SCOPED_TRACE(scheme);
        portal.set(scheme);
        EXPECT_TRUE(QTest::qWaitFor([&] { return looksDark(window) == dark; }, 20000));
        EXPECT_EQ(looksDark(alert), dark);
    }
}

TEST_F(ColorSchemePaletteTest, StartsFromThePortalsChoiceAndKeepsQtsPaletteWhereNoneCounts) {
    const QPalette themePalette(Qt::darkGreen);
    const struct {
        const char* name;
        std::vector<std::string> portal;  // the stand-in's "serve" arguments; none: no portal
        const QPalette* platformTheme;    // a palette a platform theme supplied
        bool dark;
    } rows[] = {
        {"prefers dark", {"1"}, nullptr, true},
        {"prefers dark, with Read alone", {"1", "old"}, nullptr, true},
        {"prefers light", {"2"}, nullptr, false},
        {"no such setting", {"unset"}, nullptr, false},
        {"no portal", {}, nullptr, false},
        {"the theme supplies a palette", {"1"}, &themePalette, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QPalette before =
            row.platformTheme ? *row.platformTheme : QApplication::style()->standardPalette();
        QApplication::setPalette(before);
        testing::PortalStandIn portal(row.portal);
        ColorSchemePalette palette(
            makePortalColorSchemeSource(QString::fromStdString(portal.address())));
        EXPECT_EQ(QApplication::palette().color(QPalette::Window),
                  (row.dark ? darkPalette() : before).color(QPalette::Window));
    }
}

}  // namespace
}  // namespace kelvra
