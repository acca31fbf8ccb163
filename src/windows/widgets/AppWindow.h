// SPDX-License-Identifier: MIT
#pragma once

#include <QPointer>
#include <QWidget>

class QAbstractButton;

namespace kelvra {

/// One of the application's windows, with the keys people expect of a desktop window: Escape
/// and Ctrl+W close it, Return presses the focused button, or the default button when the
/// focus is on no button. A popup or a control that takes Escape or Return itself (a recorder
/// waiting for a key, a port edit to cancel) keeps it. A screen reader reads it as a window.
class AppWindow : public QWidget {
    Q_OBJECT

public:
    explicit AppWindow(QWidget* parent = nullptr);

protected:
    /// The button Return presses while the focus is on no button; none: Return does nothing.
    void setDefaultButton(QAbstractButton* button);
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPointer<QAbstractButton> defaultButton_;
};

}  // namespace kelvra
