// SPDX-License-Identifier: MIT
#include "windows/widgets/Alert.h"

#include <QMessageBox>

namespace kelvra {

QMessageBox* showAlert(QWidget* window, const QString& text, const QString& informativeText) {
    auto* alert =
        new QMessageBox(QMessageBox::Warning, window->windowTitle(), text, QMessageBox::Ok, window);
    alert->setInformativeText(informativeText);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->open();
    return alert;
}

}  // namespace kelvra
