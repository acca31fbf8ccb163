// SPDX-License-Identifier: MIT
#include "windows/widgets/Fonts.h"

#include <QLabel>

namespace kelvra {

void setFontSize(QWidget* widget, int pixelSize, QFont::Weight weight) {
    QFont font = widget->font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    widget->setFont(font);
}

QLabel* makeLabel(const QString& text, int pixelSize, QFont::Weight weight) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    setFontSize(label, pixelSize, weight);
    return label;
}

}  // namespace kelvra
