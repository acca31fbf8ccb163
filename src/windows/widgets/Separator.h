// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

namespace kelvra {

/// A horizontal hairline in the separator colour, across the width it is given.
class Separator final : public QWidget {
    Q_OBJECT

public:
    explicit Separator(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kelvra
