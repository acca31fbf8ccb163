// SPDX-License-Identifier: MIT
#pragma once

#include <QLineEdit>

#include "clicker/ClickerInputConfiguration.h"
#include "clicker_window/ClickerDistributorModel.h"

class QKeyEvent;

namespace kelvra {

/// A read-only field that shows one keystroke assignment and records a new one. It asks to
/// record when clicked or when Space or Return is pressed on it, never merely for having the
/// focus, so Tab passes through it. While its capture waits it takes every key press itself,
/// Tab, Escape and shortcuts included, and reports each one; otherwise keys pass on to the
/// window.
class ClickerKeyRecorderField : public QLineEdit {
    Q_OBJECT

public:
    /// `name` is how the user calls the assignment: "Previous slide", "custom assignment".
    ClickerKeyRecorderField(ClickerMappingTarget target, const QString& name, int width,
                            QWidget* parent = nullptr);

    const ClickerMappingTarget& captureTarget() const { return target_; }

    /// Shows `text` and gives it to assistive technology as the field's value.
    void setDisplayText(const QString& text);
    /// Names the assignment, as its title says: "Next slide", or a custom row's action.
    void setAssignmentName(const QString& name);
    /// Whether a capture waits for this field's key.
    void setRecording(bool recording);
    bool isRecording() const { return recording_; }

signals:
    void recordRequested(const kelvra::ClickerMappingTarget& target);
    void focusLost(const kelvra::ClickerMappingTarget& target);
    void keyPressed(const kelvra::ClickerKeyDown& keyDown);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    const ClickerMappingTarget target_;
    bool recording_ = false;
};

/// The recorder's view of a Qt key press: the physical key through the key map, the
/// modifiers as the four application bits, and, `withText`, the layout's unshifted text (which
/// costs a keymap compilation, so only a pending capture asks for it).
ClickerKeyDown clickerKeyDown(const QKeyEvent& event, bool withText);

}  // namespace kelvra
