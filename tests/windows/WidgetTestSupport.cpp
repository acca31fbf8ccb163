// SPDX-License-Identifier: MIT
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QStyle>
#include <QTest>
#include <QWidget>

#include "desktop/ColorSchemePalette.h"

namespace kelvra::testing {

QPalette lightPalette() {
    return QApplication::style()->standardPalette();
}

void saveScreenshots(QWidget* window, const QString& name) {
    const QString directory = QStringLiteral(KELVRA_TEST_SCREENSHOT_DIR);
    QDir().mkpath(directory);
    for (const auto& [suffix, palette] : {std::pair{QStringLiteral("dark"), darkPalette()},
                                          std::pair{QStringLiteral("light"), lightPalette()}}) {
        QApplication::setPalette(palette);
        QApplication::processEvents();
        const QString path = directory + QLatin1Char('/') + name + QLatin1Char('-') + suffix +
                             QStringLiteral(".png");
        EXPECT_TRUE(window->grab().save(path)) << path.toStdString();
    }
}

void showAndWait(QWidget* window) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
}

QString spokenName(QWidget* widget) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible != nullptr ? accessible->text(QAccessible::Name) : QString();
}

QString takeAlert(QWidget& window) {
    auto* alert = window.findChild<QMessageBox*>();
    if (alert == nullptr) {
        return {};
    }
    const QString text = alert->text() + u'|' + alert->informativeText();
    delete alert;
    return text;
}

}  // namespace kelvra::testing
