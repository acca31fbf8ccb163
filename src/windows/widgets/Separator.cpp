// SPDX-License-Identifier: MIT
#include "windows/widgets/Separator.h"

#include <QPainter>

#include "windows/widgets/ThemeColors.h"

namespace kelvra {

Separator::Separator(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Separator::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), ThemeColors::color(ThemeColors::Role::separator, palette()));
}

}  // namespace kelvra
