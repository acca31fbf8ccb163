// SPDX-License-Identifier: MIT
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QStyle>
#include <QTest>
#include <QWidget>

namespace kelvra::testing {

QPalette lightPalette() {
    return QApplication::style()->standardPalette();
}

QPalette darkPalette() {
    QPalette palette;
    const QColor window(0x2b, 0x2b, 0x2e);
    const QColor base(0x1f, 0x1f, 0x22);
    const QColor text(0xe8, 0xe8, 0xea);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, QColor(0x78, 0xae, 0xed));
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, QColor(0x8a, 0x8a, 0x8e));
    palette.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4e));
    palette.setColor(QPalette::Midlight, QColor(0x40, 0x40, 0x44));
    palette.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x33));
    palette.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1a));
    palette.setColor(QPalette::Shadow, Qt::black);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, QColor(0x7a, 0x7a, 0x7e));
    }
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

}  // namespace kelvra::testing
