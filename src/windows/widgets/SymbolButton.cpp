// SPDX-License-Identifier: MIT
#include "windows/widgets/SymbolButton.h"

#include <QEvent>
#include <QStyleOptionToolButton>
#include <QStylePainter>

#include "windows/widgets/FocusRing.h"

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

void SymbolButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    // Our ring stands for the style's focus, a fill too faint to see on a borderless button.
    option.state &= ~QStyle::State_HasFocus;
    painter.drawComplexControl(QStyle::CC_ToolButton, option);
    if (hasFocus()) {
        paintFocusRing(painter, rect(), palette(), height() / 2.0);
    }
}

void SymbolButton::updateIcon() {
    setIcon(SymbolIcon::tinted(symbol_, iconSize(), ThemeColors::color(role_, palette()),
                               devicePixelRatioF()));
}

}  // namespace kelvra
