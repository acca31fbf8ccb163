// SPDX-License-Identifier: MIT
#pragma once

#include <QRectF>

class QPainter;
class QPalette;

namespace kelvra {

/// Draws the keyboard focus ring just inside `bounds` in the focus-ring colour, for the
/// borderless controls whose style shows focus as a faint fill or not at all.
void paintFocusRing(QPainter& painter, const QRectF& bounds, const QPalette& palette,
                    qreal radius = 4);

}  // namespace kelvra
