// SPDX-License-Identifier: MIT
#include "windows/widgets/ClickerKeyRecorderField.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include "clicker/linux/LinuxKeyMap.h"
#include "windows/KeyboardLayoutText.h"
#include "windows/widgets/Fonts.h"

namespace kelvra {

ClickerKeyDown clickerKeyDown(const QKeyEvent& event, bool withText) {
    const quint32 scanCode = event.nativeScanCode();
    ClickerKeyDown keyDown;
    keyDown.keyCode = scanCode >= LinuxKeyMap::xKeycodeOffset
                          ? LinuxKeyMap::keyCodeFromEvdev(
                                static_cast<uint16_t>(scanCode - LinuxKeyMap::xKeycodeOffset))
                          : LinuxKeyMap::outOfRangeBase;
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    if (modifiers & Qt::ShiftModifier) {
        keyDown.modifierFlags |= ClickerModifierFlags::shift;
    }
    if (modifiers & Qt::ControlModifier) {
        keyDown.modifierFlags |= ClickerModifierFlags::control;
    }
    if (modifiers & Qt::AltModifier) {
        keyDown.modifierFlags |= ClickerModifierFlags::option;
    }
    if (modifiers & Qt::MetaModifier) {
        keyDown.modifierFlags |= ClickerModifierFlags::command;
    }
    if (withText) {
        keyDown.charactersIgnoringModifiers = unshiftedKeyText(scanCode);
    }
    return keyDown;
}

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
    setAssignmentName(name);
}

void ClickerKeyRecorderField::setAssignmentName(const QString& name) {
    const QString accessibleName = name + QStringLiteral(" key assignment");
    if (accessibleName == this->accessibleName()) {
        return;
    }
    const QString help =
        QStringLiteral("Click here or press Space, then press the key for %1.").arg(name);
    setToolTip(help);
    setAccessibleDescription(help);
    setAccessibleName(accessibleName);
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

void ClickerKeyRecorderField::setRecording(bool recording) {
    recording_ = recording;
}

bool ClickerKeyRecorderField::event(QEvent* event) {
    if (!recording_) {
        return QLineEdit::event(event);
    }
    switch (event->type()) {
        case QEvent::ShortcutOverride:
            // A shortcut's key (Ctrl+W, Ctrl+Q) is a key to record.
            event->accept();
            return true;
        case QEvent::KeyPress:
            // Before the focus chain sees Tab.
            emit keyPressed(clickerKeyDown(*static_cast<QKeyEvent*>(event), true));
            event->accept();
            return true;
        case QEvent::KeyRelease:
            event->accept();
            return true;
        default:
            return QLineEdit::event(event);
    }
}

void ClickerKeyRecorderField::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (event->modifiers() == Qt::NoModifier &&
        (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
        emit recordRequested(target_);
        return;
    }
    // Nothing to edit: Escape, Return with modifiers and the rest belong to the window.
    event->ignore();
}

void ClickerKeyRecorderField::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    deselect();
}

void ClickerKeyRecorderField::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    emit focusLost(target_);
}

void ClickerKeyRecorderField::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    event->accept();
    emit recordRequested(target_);
}

void ClickerKeyRecorderField::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}

void ClickerKeyRecorderField::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
}

}  // namespace kelvra
