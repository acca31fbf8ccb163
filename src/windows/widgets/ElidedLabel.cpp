// SPDX-License-Identifier: MIT
#include "windows/widgets/ElidedLabel.h"

#include <QEvent>

namespace kelvra {

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget* parent) : QLabel(parent), mode_(mode) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString& text) {
    fullText_ = text;
    setAccessibleName(text);
    updateShownText();
    updateGeometry();
}

QSize ElidedLabel::minimumSizeHint() const {
    return {fontMetrics().averageCharWidth() * 4, QLabel::minimumSizeHint().height()};
}

QSize ElidedLabel::sizeHint() const {
    return {fontMetrics().horizontalAdvance(fullText_), QLabel::sizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    updateShownText();
}

void ElidedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateShownText();
    }
}

void ElidedLabel::updateShownText() {
    const QString shown = fontMetrics().elidedText(fullText_, mode_, contentsRect().width());
    setToolTip(shown == fullText_ ? QString() : fullText_);
    setText(shown);
}

}  // namespace kelvra
