// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractButton>

#include "windows/widgets/ThemeColors.h"

namespace kelvra {

/// A borderless text button drawn in a named colour, as tight as its text with room for its
/// focus ring; Tab reaches it like any button. The colour is resolved when painting, so it
/// follows light and dark at once.
class LinkButton final : public QAbstractButton {
    Q_OBJECT

public:
    LinkButton(const QString& text, ThemeColors::Role role, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ThemeColors::Role role_;
};

}  // namespace kelvra
