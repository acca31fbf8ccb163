// SPDX-License-Identifier: MIT
#include "windows/widgets/LabelledComboBox.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace kelvra {
namespace {

class AccessibleLabelledComboBox final : public QAccessibleWidget {
public:
    explicit AccessibleLabelledComboBox(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::ComboBox) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) {
            return static_cast<QComboBox*>(widget())->currentText();
        }
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* labelledComboBoxAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String(LabelledComboBox::staticMetaObject.className()) &&
        object->isWidgetType()) {
        return new AccessibleLabelledComboBox(static_cast<QWidget*>(object));
    }
    return nullptr;
}

}  // namespace

LabelledComboBox::LabelledComboBox(QWidget* parent) : QComboBox(parent) {
    QAccessible::installFactory(labelledComboBoxAccessible);  // Qt keeps each factory once
}

}  // namespace kelvra
