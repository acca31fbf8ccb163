// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

class QMessageBox;
class QWidget;

namespace kelvra {

/// Shows a warning alert with one "OK" button over `window`, modal to it, and returns at once;
/// the alert deletes itself when dismissed. Returning at once keeps the window's event handling
/// (and its tests) going while the alert is up.
QMessageBox* showAlert(QWidget* window, const QString& text, const QString& informativeText);

}  // namespace kelvra
