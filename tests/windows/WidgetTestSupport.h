// SPDX-License-Identifier: MIT
#pragma once

#include <gtest/gtest.h>

#include <QPalette>
#include <QString>
#include <QWidget>

namespace kelvra::testing {

/// Fusion's palette for a light desktop (the application's dark one is darkPalette()).
QPalette lightPalette();

/// Saves `window` as it looks in the light and the dark palette, as "<name>-light.png" and
/// "<name>-dark.png" under the build folder's screenshot directory, and leaves it light.
void saveScreenshots(QWidget* window, const QString& name);

/// Shows `window` and waits until it is exposed, so geometry and focus are real.
void showAndWait(QWidget* window);

/// What a screen reader reads as `widget`'s name, through Qt's accessibility interface. (Qt
/// sends no accessibility events offscreen, so changes cannot be heard here; a label without a
/// fixed name announces each new text itself.)
QString spokenName(QWidget* widget);

/// `window`'s child of type `T` named `name`; a test without one fails.
template <typename T>
T* child(const QWidget& window, const QString& name) {
    T* found = window.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name.toStdString();
    return found;
}

/// "text|informative text" of the alert open over `window`, which it then closes; empty when
/// none is open.
QString takeAlert(QWidget& window);

}  // namespace kelvra::testing
