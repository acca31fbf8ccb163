// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>

class QWidget;

namespace kelvra {

/// Gives `widget` its current font at `pixelSize` logical pixels and `weight`.
void setFontSize(QWidget* widget, int pixelSize, QFont::Weight weight = QFont::Normal);

}  // namespace kelvra
