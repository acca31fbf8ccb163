// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractButton>

namespace kelvra {

/// A small on/off switch. Assistive technologies see a check box. `clicked(bool)` reports the
/// user's flip; `setChecked` (for example to put a refused flip back) never emits `clicked`, so
/// reverting does not fire the switch's action again.
class ToggleSwitch final : public QAbstractButton {
    Q_OBJECT

public:
    explicit ToggleSwitch(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& position) const override;
};

}  // namespace kelvra
