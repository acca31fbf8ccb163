// SPDX-License-Identifier: MIT
#include "windows/widgets/Fonts.h"

#include <QWidget>

namespace kelvra {

void setFontSize(QWidget* widget, int pixelSize, QFont::Weight weight) {
    QFont font = widget->font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    widget->setFont(font);
}

}  // namespace kelvra
