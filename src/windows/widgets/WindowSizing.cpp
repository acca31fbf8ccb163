// SPDX-License-Identifier: MIT
#include "windows/widgets/WindowSizing.h"

#include <algorithm>

#include <QLayout>
#include <QWidget>

namespace kelvra {

void fitHeightToContent(QWidget* window, int minimumHeight) {
    QLayout* layout = window->layout();
    layout->activate();
    const int width = window->width();
    const int height =
        std::max(minimumHeight, layout->hasHeightForWidth() ? layout->totalHeightForWidth(width)
                                                            : layout->totalSizeHint().height());
    window->setFixedHeight(height);
}

}  // namespace kelvra
