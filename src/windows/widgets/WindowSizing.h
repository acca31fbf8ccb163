// SPDX-License-Identifier: MIT
#pragma once

class QWidget;

namespace kelvra {

/// Gives a window of fixed width the height its content needs at that width, counting wrapped
/// text (`adjustSize` measures wrapping at the content's preferred width instead).
void fitHeightToContent(QWidget* window, int minimumHeight = 0);

}  // namespace kelvra
