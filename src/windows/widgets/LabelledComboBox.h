// SPDX-License-Identifier: MIT
#pragma once

#include <QComboBox>

namespace kelvra {

/// A pop-up list that a screen reader names by its accessible name ("Network interface") and
/// reads its current entry as the value. Qt's own names a list by its current entry on Linux,
/// so every list would sound like its value.
class LabelledComboBox final : public QComboBox {
    Q_OBJECT

public:
    explicit LabelledComboBox(QWidget* parent = nullptr);
};

}  // namespace kelvra
