// SPDX-License-Identifier: MIT
#include "desktop/ColorSchemePalette.h"

#include <QApplication>
#include <QStyle>

namespace kelvra {

QPalette darkPalette() {
    const QColor window(0x2b, 0x2b, 0x2e);
    const QColor text(0xf0, 0xf0, 0xf0);
    // Qt derives the bevel roles and the disabled group from the button and window colours.
    QPalette palette(QColor(0x3a, 0x3a, 0x3e), window);
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::ToolTipText, text);
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    palette.setColor(QPalette::Base, QColor(0x1f, 0x1f, 0x22));
    palette.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x37));
    palette.setColor(QPalette::ToolTipBase, QColor(0x1f, 0x1f, 0x22));
    palette.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    palette.setColor(QPalette::Link, QColor(0x78, 0xae, 0xed));
    palette.setColor(QPalette::LinkVisited, QColor(0xb5, 0x8c, 0xe8));
    palette.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9a, 0x9e));
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x50, 0x50, 0x55));
    return palette;
}

ColorSchemePalette::ColorSchemePalette(std::unique_ptr<ColorSchemeSource> source)
    : source_(std::move(source)), qtPalette_(QApplication::palette()) {
    // Without a theme's palette, Qt starts from its style's own.
    if (qtPalette_ != QApplication::style()->standardPalette()) {
        return;
    }
    // Followed before the first read, so no change falls between the two.
    source_->onChange([this](ColorScheme scheme) { apply(scheme); });
    if (const auto scheme = source_->current()) {
        apply(*scheme);
    }
}

void ColorSchemePalette::apply(ColorScheme scheme) const {
    QApplication::setPalette(scheme == ColorScheme::preferDark ? darkPalette() : qtPalette_);
}

}  // namespace kelvra
