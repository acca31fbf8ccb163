// SPDX-License-Identifier: MIT
#include "windows/widgets/FocusRing.h"

#include <QPainter>

#include "windows/widgets/ThemeColors.h"

namespace kelvra {

void paintFocusRing(QPainter& painter, const QRectF& bounds, const QPalette& palette,
                    qreal radius) {
    painter.save();
    painter.setOpacity(1);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ThemeColors::color(ThemeColors::Role::focusRing, palette), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(bounds.adjusted(1, 1, -1, -1), radius, radius);
    painter.restore();
}

}  // namespace kelvra
