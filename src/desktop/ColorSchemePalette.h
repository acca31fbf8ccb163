// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

#include <QPalette>

#include "desktop/ColorSchemeSource.h"

namespace kelvra {

/// Our windows' palette on a dark desktop, for Qt's built-in style.
QPalette darkPalette();

/// Keeps the application's palette on the desktop's light or dark choice: the dark palette for
/// "prefer dark", the palette Qt started with for the others, every change applied to open
/// windows at once. Where the platform theme supplies a palette (a KDE session), that palette
/// already is the desktop's choice, and Qt's stays; so does it where the desktop says nothing.
class ColorSchemePalette final {
public:
    explicit ColorSchemePalette(std::unique_ptr<ColorSchemeSource> source);

private:
    void apply(ColorScheme scheme) const;

    std::unique_ptr<ColorSchemeSource> source_;
    const QPalette qtPalette_;
};

}  // namespace kelvra
