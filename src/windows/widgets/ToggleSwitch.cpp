// SPDX-License-Identifier: MIT
#include "windows/widgets/ToggleSwitch.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>
#include <QStyleOptionFocusRect>

#include "windows/widgets/ThemeColors.h"

namespace kelvra {
namespace {

class AccessibleToggleSwitch final : public QAccessibleWidget {
public:
    explicit AccessibleToggleSwitch(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::CheckBox) {
        addControllingSignal(QStringLiteral("clicked(bool)"));
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = button()->isChecked();
        return state;
    }

    QStringList actionNames() const override {
        return button()->isEnabled() ? QStringList{toggleAction()} : QStringList{};
    }

    void doAction(const QString& actionName) override {
        if (actionName == toggleAction() && button()->isEnabled()) {
            button()->click();
        }
    }

private:
    ToggleSwitch* button() const { return static_cast<ToggleSwitch*>(widget()); }
};

QAccessibleInterface* toggleSwitchAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String(ToggleSwitch::staticMetaObject.className()) &&
        object->isWidgetType()) {
        return new AccessibleToggleSwitch(static_cast<QWidget*>(object));
    }
    return nullptr;
}

}  // namespace

ToggleSwitch::ToggleSwitch(QWidget* parent) : QAbstractButton(parent) {
    QAccessible::installFactory(toggleSwitchAccessible);  // Qt keeps each factory once
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

QSize ToggleSwitch::sizeHint() const {
    return {38, 22};
}

bool ToggleSwitch::hitButton(const QPoint& position) const {
    return rect().contains(position);
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colors = palette();
    if (!isEnabled()) {
        painter.setOpacity(0.45);
    }

    const QRectF track = QRectF(rect()).adjusted(2, 2, -2, -2);
    const qreal radius = track.height() / 2;
    const QColor trackColor = isChecked()
                                  ? ThemeColors::color(ThemeColors::Role::accent, colors)
                                  : ThemeColors::color(ThemeColors::Role::separator, colors);
    painter.setPen(Qt::NoPen);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, radius, radius);
    if (!isChecked()) {
        // An outline keeps the off track visible on any window colour.
        painter.setPen(QPen(ThemeColors::color(ThemeColors::Role::tertiaryLabel, colors), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    }

    const qreal knobDiameter = track.height() - 4;
    const qreal knobX = isChecked() ? track.right() - 2 - knobDiameter : track.left() + 2;
    const QRectF knob(knobX, track.top() + 2, knobDiameter, knobDiameter);
    painter.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
    painter.setBrush(QColor(Qt::white));
    painter.drawEllipse(knob);

    if (hasFocus()) {
        painter.setOpacity(1);
        painter.setPen(QPen(ThemeColors::color(ThemeColors::Role::focusRing, colors), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-1, -1, 1, 1), radius + 1, radius + 1);
    }
}

}  // namespace kelvra
