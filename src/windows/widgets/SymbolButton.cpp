// SPDX-License-Identifier: MIT
#include "windows/widgets/SymbolButton.h"

#include <QEvent>

namespace kelvra {

SymbolButton::SymbolButton(Symbol symbol, ThemeColors::Role role, QSize size, QSize iconSize,
                           QWidget* parent)
    : QToolButton(parent), symbol_(symbol), role_(role) {
    setAutoRaise(true);
    setFixedSize(size);
    setIconSize(iconSize);
    setCursor(Qt::PointingHandCursor);
    updateIcon();
}

void SymbolButton::changeEvent(QEvent* event) {
    QToolButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        updateIcon();
    }
}

void SymbolButton::updateIcon() {
    setIcon(SymbolIcon::tinted(symbol_, iconSize(), ThemeColors::color(role_, palette()),
                               devicePixelRatioF()));
}

}  // namespace kelvra
