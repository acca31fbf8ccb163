// SPDX-License-Identifier: MIT
#include "desktop/Alert.h"

#include <memory>

#include <QAbstractButton>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>

namespace kelvra {
namespace {

QMessageBox::Icon iconFor(AlertStyle style) {
    switch (style) {
        case AlertStyle::informational:
            return QMessageBox::Information;
        case AlertStyle::warning:
            return QMessageBox::Warning;
        case AlertStyle::critical:
            return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

constexpr auto kResponseProperty = "kelvraResponse";

// Over a window, the box is its child with its title; on its own, on top of every window.
QMessageBox* buildBox(const Alert& alert, QWidget* window) {
    const QStringList& buttons = alert.buttons;
    auto* box =
        new QMessageBox(iconFor(alert.style),
                        window != nullptr ? window->windowTitle() : QStringLiteral("Kelvra Hub"),
                        alert.message, QMessageBox::NoButton, window);
    box->setInformativeText(alert.informativeText);
    if (window == nullptr) {
        box->setWindowFlag(Qt::WindowStaysOnTopHint);
    }
    for (int index = 0; index < buttons.size(); ++index) {
        const bool cancels = buttons[index] == QStringLiteral("Cancel");
        auto* button = box->addButton(buttons[index], index == 0 ? QMessageBox::AcceptRole
                                                      : cancels  ? QMessageBox::RejectRole
                                                                 : QMessageBox::ActionRole);
        button->setProperty(kResponseProperty, Alert::kFirstButtonResponse + index);
        if (index == 0) {
            box->setDefaultButton(button);
        }
        if (cancels || buttons.size() == 1) {
            box->setEscapeButton(button);
        }
    }
    // Without a width, Qt wraps paths and addresses at their hyphens and slashes.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        grid->addItem(new QSpacerItem(420, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    return box;
}

}  // namespace

QMessageBox* Alert::create() const {
    return buildBox(*this, nullptr);
}

int Alert::run() const {
    const std::unique_ptr<QMessageBox> box(create());
    box->show();
    box->raise();
    box->activateWindow();
    box->exec();
    return responseOf(*box);
}

QMessageBox* Alert::open(std::function<void(int response)> completion) const {
    QMessageBox* box = create();
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box, [box, completion = std::move(completion)] {
        if (completion) {
            completion(responseOf(*box));
        }
    });
    box->open();
    box->raise();
    box->activateWindow();
    return box;
}

QMessageBox* Alert::openOver(QWidget& window) const {
    QMessageBox* box = buildBox(*this, &window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();  // modal to its parent window alone
    return box;
}

int Alert::responseOf(const QMessageBox& box) {
    const QAbstractButton* chosen = box.clickedButton();
    if (chosen == nullptr) {
        chosen = box.escapeButton();
    }
    return chosen != nullptr ? chosen->property(kResponseProperty).toInt() : kSecondButtonResponse;
}

}  // namespace kelvra
