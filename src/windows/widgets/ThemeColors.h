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
    /// The ring around the focused control: the highlight, kept at 3:1 against the window.
    focusRing,
};

bool isDark(const QPalette& palette);

QColor color(Role role, const QPalette& palette);

/// The contrast ratio of two colours as WCAG 2 measures it, from 1 to 21; alpha is ignored.
double contrast(const QColor& a, const QColor& b);

/// `color` over `background`, darkened or lightened as little as it takes to stand out from it
/// by `ratio`, so a text or a ring stays legible on whatever the desktop's palette gives.
QColor legibleOn(const QColor& color, const QColor& background, double ratio);

/// Draws `widget`'s text (its window-text and text roles) in `role`, and keeps doing so when
/// the palette it inherits changes, so a switch between light and dark follows at once.
void setTextRole(QWidget* widget, Role role);

}  // namespace ThemeColors
}  // namespace kelvra
