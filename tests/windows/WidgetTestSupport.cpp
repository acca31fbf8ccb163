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

namespace kelvra::testing {

QPalette lightPalette() {
    return QApplication::style()->standardPalette();
}

QPalette darkPalette() {
    // Qt derives the other roles, the disabled ones too, from the button and window colours.
    QPalette palette(QColor(0x3a, 0x3a, 0x3e), QColor(0x2b, 0x2b, 0x2e));
    palette.setColor(QPalette::Base, QColor(0x1f, 0x1f, 0x22));
    palette.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    palette.setColor(QPalette::Link, QColor(0x78, 0xae, 0xed));
    return palette;
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
