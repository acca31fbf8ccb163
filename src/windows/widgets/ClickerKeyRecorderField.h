// SPDX-License-Identifier: MIT
#pragma once

#include <QLineEdit>

#include "clicker/ClickerInputConfiguration.h"

namespace kelvra {

/// A read-only field that shows one keystroke assignment and records a new one while it has
/// the keyboard focus: gaining focus begins recording, losing it ends recording. The keys
/// themselves reach the window's key capture before this field, so the field never edits.
class ClickerKeyRecorderField : public QLineEdit {
    Q_OBJECT

public:
    /// `name` is how the user calls the assignment: "Previous slide", "custom assignment".
    ClickerKeyRecorderField(ClickerMappingTarget target, const QString& name, int width,
                            QWidget* parent = nullptr);

    const ClickerMappingTarget& captureTarget() const { return target_; }

    /// Shows `text` and gives it to assistive technology as the field's value.
    void setDisplayText(const QString& text);

signals:
    void recordingBegan(const kelvra::ClickerMappingTarget& target);
    void recordingEnded(const kelvra::ClickerMappingTarget& target);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    const ClickerMappingTarget target_;
};

}  // namespace kelvra
