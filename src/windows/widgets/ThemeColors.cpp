// SPDX-License-Identifier: MIT
#include "windows/widgets/ThemeColors.h"

#include <algorithm>
#include <cmath>

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
        case Role::focusRing:
            return legibleOn(palette.color(QPalette::Highlight), palette.color(QPalette::Window),
                             3.0);
    }
    return text;
}

double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& color) {
        const auto linear = [](float channel) {
            return channel <= 0.04045f ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
        };
        const QColor rgb = color.toRgb();
        return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
               0.0722 * linear(rgb.blueF());
    };
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

QColor legibleOn(const QColor& color, const QColor& background, double ratio) {
    const QColor opaqueBackground = background.toRgb();
    const float alpha = color.toRgb().alphaF();
    const auto over = [&](const QColor& top, float weight) {
        return QColor::fromRgbF(top.redF() * weight + opaqueBackground.redF() * (1 - weight),
                                top.greenF() * weight + opaqueBackground.greenF() * (1 - weight),
                                top.blueF() * weight + opaqueBackground.blueF() * (1 - weight));
    };
    const QColor seen = over(color.toRgb(), alpha);
    // Away from the background: towards black on a light one, white on a dark one.
    const QColor away =
        contrast(opaqueBackground, Qt::black) > contrast(opaqueBackground, Qt::white)
            ? QColor(Qt::black)
            : QColor(Qt::white);
    for (int step = 0; step <= 20; ++step) {
        const float towards = static_cast<float>(step) / 20;
        const QColor candidate =
            QColor::fromRgbF(seen.redF() * (1 - towards) + away.redF() * towards,
                             seen.greenF() * (1 - towards) + away.greenF() * towards,
                             seen.blueF() * (1 - towards) + away.blueF() * towards);
        if (contrast(candidate, opaqueBackground) >= ratio) {
            return candidate;
        }
    }
    return away;
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
