// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QPalette>

class QWidget;

namespace kelvra {

/// The named colours of our windows, resolved against a palette. Qt 6.4 has no colour-scheme
/// API, so "dark" is read from the palette itself: a window colour below half lightness.
namespace ThemeColors {

enum class Role {
    label,
    secondaryLabel,
    tertiaryLabel,
    separator,
    accent,
    link,
    green,
    red,
    orange,
    welcomeHintBackground,
    welcomeHintText,
};

bool isDark(const QPalette& palette);

QColor color(Role role, const QPalette& palette);

/// Draws `widget`'s text (its window-text and text roles) in `role`, and keeps doing so when
/// the palette it inherits changes, so a switch between light and dark follows at once.
void setTextRole(QWidget* widget, Role role);

}  // namespace ThemeColors
}  // namespace kelvra
