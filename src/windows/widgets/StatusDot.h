// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

#include "windows/widgets/ThemeColors.h"

namespace kelvra {

/// A small filled circle in one of the named colours. Its owner names it by the state it shows
/// ("Running"), since a screen reader cannot see the colour.
class StatusDot final : public QWidget {
    Q_OBJECT

public:
    explicit StatusDot(int diameter = 10, QWidget* parent = nullptr);

    void setRole(ThemeColors::Role role);
    ThemeColors::Role role() const { return role_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int diameter_;
    ThemeColors::Role role_ = ThemeColors::Role::secondaryLabel;
};

}  // namespace kelvra
