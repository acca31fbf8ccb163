// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>

class QLabel;

namespace kelvra {

/// The system symbols our windows show, each an icon-theme name with a bundled monochrome
/// fallback for themes without it.
enum class Symbol {
    info,              // info.circle
    trash,             // trash
    presentationSync,  // rectangle.on.rectangle
    clicker,           // av.remote
    desktop,           // desktopcomputer
    openExternal,      // arrow.up.forward.square
};

namespace SymbolIcon {

/// The icon theme's name for `symbol`.
const char* themeName(Symbol symbol);

/// The theme's icon, else the bundled one.
QIcon icon(Symbol symbol);

/// `symbol` drawn in one colour at `size` (logical pixels, sharp on high-density screens), from
/// the bundled glyph, which is always one colour.
QPixmap tinted(Symbol symbol, QSize size, const QColor& color, qreal devicePixelRatio);

/// A centred label showing `icon` at `side` logical pixels: the status item's icon, or the
/// application's (the theme's, else the bundled one) when `icon` is null.
QLabel* headerIcon(const QIcon& icon, int side, qreal devicePixelRatio);

}  // namespace SymbolIcon
}  // namespace kelvra
