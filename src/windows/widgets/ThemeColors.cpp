// SPDX-License-Identifier: MIT
#include "windows/widgets/ThemeColors.h"

#include <QEvent>
#include <QWidget>

namespace kelvra::ThemeColors {
namespace {

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

// Holds a widget's text role and applies it again whenever the inherited palette changes.
class TextRoleKeeper final : public QObject {
public:
    static constexpr const char* kName = "kelvraTextRoleKeeper";

    TextRoleKeeper(QWidget* widget, Role role) : QObject(widget), widget_(widget), role_(role) {
        setObjectName(kName);
        widget->installEventFilter(this);
        apply();
    }

    void setRole(Role role) {
        role_ = role;
        apply();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == widget_ && event->type() == QEvent::PaletteChange) {
            apply();
        }
        return false;
    }

private:
    void apply() {
        // The inherited palette is the parent's; the widget's own carries our colour already.
        const QWidget* parent = widget_->parentWidget();
        const QPalette base = parent ? parent->palette() : widget_->palette();
        const QColor wanted = color(role_, base);
        QPalette palette = widget_->palette();
        if (palette.color(QPalette::WindowText) == wanted &&
            palette.color(QPalette::Text) == wanted) {
            return;
        }
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            palette.setColor(group, QPalette::WindowText, wanted);
            palette.setColor(group, QPalette::Text, wanted);
            palette.setColor(group, QPalette::ButtonText, wanted);
        }
        widget_->setPalette(palette);
    }

    QWidget* widget_;
    Role role_;
};

}  // namespace

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QColor color(Role role, const QPalette& palette) {
    const bool dark = isDark(palette);
    const QColor text = palette.color(QPalette::WindowText);
    switch (role) {
        case Role::label:
            return text;
        case Role::secondaryLabel:
            return withAlpha(text, dark ? 0.62 : 0.64);
        case Role::tertiaryLabel:
            return withAlpha(text, dark ? 0.42 : 0.45);
        case Role::separator:
            return withAlpha(text, dark ? 0.18 : 0.14);
        case Role::accent:
            return palette.color(QPalette::Highlight);
        case Role::link: {
            const QColor link = palette.color(QPalette::Link);
            return dark && link.lightnessF() < 0.55 ? QColor(0x6c, 0xaa, 0xff) : link;
        }
        // Darker in light mode than the usual signal colours, so text stays readable on white.
        case Role::green:
            return dark ? QColor(0x4a, 0xd0, 0x6a) : QColor(0x1b, 0x80, 0x3a);
        case Role::red:
            return dark ? QColor(0xff, 0x6b, 0x63) : QColor(0xc4, 0x23, 0x1c);
        case Role::orange:
            return dark ? QColor(0xff, 0xa6, 0x3d) : QColor(0xb8, 0x5c, 0x00);
        case Role::welcomeHintBackground:
            return dark ? QColor::fromRgbF(0.16f, 0.165f, 0.21f) : QColor(Qt::white);
        case Role::welcomeHintText:
            return dark ? text : QColor::fromRgbF(0.18f, 0.18f, 0.18f);
    }
    return text;
}

void setTextRole(QWidget* widget, Role role) {
    if (auto* keeper =
            widget->findChild<QObject*>(TextRoleKeeper::kName, Qt::FindDirectChildrenOnly)) {
        static_cast<TextRoleKeeper*>(keeper)->setRole(role);
        return;
    }
    new TextRoleKeeper(widget, role);
}

}  // namespace kelvra::ThemeColors
