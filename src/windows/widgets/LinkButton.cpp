// SPDX-License-Identifier: MIT
#include "windows/widgets/LinkButton.h"

#include <QPainter>

#include "windows/widgets/FocusRing.h"

namespace kelvra {

LinkButton::LinkButton(const QString& text, ThemeColors::Role role, QWidget* parent)
    : QAbstractButton(parent), role_(role) {
    setText(text);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize LinkButton::sizeHint() const {
    // Room for the focus ring around the text.
    return fontMetrics().size(Qt::TextSingleLine, text()) + QSize(10, 6);
}

void LinkButton::paintEvent(QPaintEvent*) {
    // Link text reads at 4.5:1 on the window, whatever accent the desktop has.
    QColor color = ThemeColors::legibleOn(ThemeColors::color(role_, palette()),
                                          palette().color(QPalette::Window), 4.5);
    if (!isEnabled()) {
        color.setAlphaF(color.alphaF() * 0.4f);
    } else if (isDown()) {
        color.setAlphaF(color.alphaF() * 0.7f);
    }
    QPainter painter(this);
    painter.setPen(color);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
    if (hasFocus()) {
        paintFocusRing(painter, rect(), palette());
    }
}

}  // namespace kelvra
