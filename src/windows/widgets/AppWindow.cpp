// SPDX-License-Identifier: MIT
#include "windows/widgets/AppWindow.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QShortcut>

namespace kelvra {
namespace {

QAccessibleInterface* appWindowAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String(AppWindow::staticMetaObject.className()) &&
        object->isWidgetType()) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    }
    return nullptr;
}

/// A button that acts on Return: a push, tool or link button, not a checkbox or a switch.
bool pressesOnReturn(const QWidget* widget) {
    const auto* button = qobject_cast<const QAbstractButton*>(widget);
    return button && !button->isCheckable();
}

}  // namespace

AppWindow::AppWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    QAccessible::installFactory(appWindowAccessible);  // Qt keeps each factory once
    auto* close = new QShortcut(QKeySequence::Close, this);
    close->setContext(Qt::WindowShortcut);
    connect(close, &QShortcut::activated, this, &QWidget::close);
}

void AppWindow::setDefaultButton(QAbstractButton* button) {
    defaultButton_ = button;
}

void AppWindow::keyPressEvent(QKeyEvent* event) {
    // Keys reach the window only when the focused control left them.
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers != Qt::NoModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
        case Qt::Key_Escape:
            close();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            QWidget* focused = focusWidget();
            if (pressesOnReturn(focused)) {
                static_cast<QAbstractButton*>(focused)->click();
            } else if (!qobject_cast<QAbstractButton*>(focused) && defaultButton_ &&
                       defaultButton_->isEnabled() && defaultButton_->isVisible()) {
                defaultButton_->click();
            }
            return;
        }
        default:
            QWidget::keyPressEvent(event);
    }
}

}  // namespace kelvra
