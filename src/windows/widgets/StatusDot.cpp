// SPDX-License-Identifier: MIT
#include "windows/widgets/StatusDot.h"

#include <QPainter>

namespace kelvra {

StatusDot::StatusDot(int diameter, QWidget* parent) : QWidget(parent), diameter_(diameter) {
    setFixedSize(diameter, diameter);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void StatusDot::setRole(ThemeColors::Role role) {
    if (role_ != role) {
        role_ = role;
        update();
    }
}

QSize StatusDot::sizeHint() const {
    return {diameter_, diameter_};
}

void StatusDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ThemeColors::color(role_, palette()));
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

}  // namespace kelvra
