// SPDX-License-Identifier: MIT
#pragma once

#include <QPalette>
#include <QString>

class QWidget;

namespace kelvra::testing {

/// Fusion's palettes for a light and a dark desktop.
QPalette lightPalette();
QPalette darkPalette();

/// Saves `window` as it looks in the light and the dark palette, as "<name>-light.png" and
/// "<name>-dark.png" under the build folder's screenshot directory, and leaves it light.
void saveScreenshots(QWidget* window, const QString& name);

/// Shows `window` and waits until it is exposed, so geometry and focus are real.
void showAndWait(QWidget* window);

/// What a screen reader reads as `widget`'s name, through Qt's accessibility interface. (Qt
/// sends no accessibility events offscreen, so changes cannot be heard here; a label without a
/// fixed name announces each new text itself.)
QString spokenName(QWidget* widget);

}  // namespace kelvra::testing
