// SPDX-License-Identifier: MIT
#include "windows/widgets/LinkButton.h"

#include <QPainter>

namespace kelvra {

LinkButton::LinkButton(const QString& text, ThemeColors::Role role, QWidget* parent)
    : QAbstractButton(parent), role_(role) {
    setText(text);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize LinkButton::sizeHint() const {
    return fontMetrics().size(Qt::TextSingleLine, text()) + QSize(4, 0);
}

void LinkButton::paintEvent(QPaintEvent*) {
    QColor color = ThemeColors::color(role_, palette());
    if (!isEnabled()) {
        color.setAlphaF(color.alphaF() * 0.4f);
    } else if (isDown()) {
        color.setAlphaF(color.alphaF() * 0.7f);
    }
    QPainter painter(this);
    painter.setPen(color);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
}

}  // namespace kelvra
