// SPDX-License-Identifier: MIT
#include "windows/widgets/ClickerKeyRecorderField.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QMouseEvent>

#include "windows/widgets/Fonts.h"

namespace kelvra {

ClickerKeyRecorderField::ClickerKeyRecorderField(ClickerMappingTarget target, const QString& name,
                                                 int width, QWidget* parent)
    : QLineEdit(parent), target_(std::move(target)) {
    setReadOnly(true);
    setAlignment(Qt::AlignCenter);
    setFocusPolicy(Qt::StrongFocus);
    setFixedSize(width, 26);
    setFontSize(this, 14);
    // A read-only line edit still shows a caret and selects on drag; neither means anything
    // here, so the field looks and behaves like a control, not like text.
    setCursor(Qt::PointingHandCursor);
    setContextMenuPolicy(Qt::NoContextMenu);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    const QString help = QStringLiteral("Click or tab here, then press the key for %1.").arg(name);
    setToolTip(help);
    setAccessibleDescription(help);
    setAccessibleName(name + QStringLiteral(" key assignment"));
}

void ClickerKeyRecorderField::setDisplayText(const QString& text) {
    if (text == this->text()) {
        return;
    }
    // Tail truncation: the full text stays the accessible value, only the shown text is cut.
    setText(text);
    deselect();
    setCursorPosition(0);
    QAccessibleValueChangeEvent event(this, text);
    QAccessible::updateAccessibility(&event);
}

void ClickerKeyRecorderField::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    deselect();
    emit recordingBegan(target_);
}

void ClickerKeyRecorderField::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    emit recordingEnded(target_);
}

void ClickerKeyRecorderField::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    event->accept();
}

void ClickerKeyRecorderField::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}

void ClickerKeyRecorderField::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
}

}  // namespace kelvra
