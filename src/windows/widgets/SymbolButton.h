// SPDX-License-Identifier: MIT
#pragma once

#include <QToolButton>

#include "windows/widgets/SymbolIcon.h"
#include "windows/widgets/ThemeColors.h"

namespace kelvra {

/// A borderless button showing one symbol tinted in a named colour, tinted again whenever the
/// palette changes, with a ring that shows clearly when it has the focus. Used for the info and
/// delete buttons.
class SymbolButton final : public QToolButton {
    Q_OBJECT

public:
    /// `size` is the button's fixed size, `iconSize` the symbol's, both in logical pixels.
    SymbolButton(Symbol symbol, ThemeColors::Role role, QSize size, QSize iconSize,
                 QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void updateIcon();

    Symbol symbol_;
    ThemeColors::Role role_;
};

}  // namespace kelvra
