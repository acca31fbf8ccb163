// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>

class QLabel;
class QString;
class QWidget;

namespace kelvra {

/// Gives `widget` its current font at `pixelSize` logical pixels and `weight`.
void setFontSize(QWidget* widget, int pixelSize, QFont::Weight weight = QFont::Normal);

/// A plain-text label at `pixelSize` and `weight`, such as a section heading.
QLabel* makeLabel(const QString& text, int pixelSize, QFont::Weight weight = QFont::Normal);

}  // namespace kelvra
