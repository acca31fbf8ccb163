// SPDX-License-Identifier: MIT
#include "windows/FeatureHighlightsView.h"

#include <utility>

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "windows/widgets/Fonts.h"
#include "windows/widgets/LinkButton.h"
#include "windows/widgets/ThemeColors.h"

namespace kelvra {

FeatureHighlight presentationSyncHighlight() {
    return {Symbol::presentationSync, QStringLiteral("Presentation Sync"),
            QStringLiteral("Keeps presentations, slides, and animations in step across a group of "
                           "machines that follow one reference machine."),
            std::nullopt};
}

FeatureHighlight clickerDistributorHighlight(std::optional<FeatureHighlight::Action> action) {
    return {Symbol::clicker, QStringLiteral("Clicker Distributor"),
            QStringLiteral("Sends Next and Previous from a clicker on this computer to whole "
                           "Presentation Sync groups at once."),
            std::move(action)};
}

FeatureHighlightsView::FeatureHighlightsView(std::vector<FeatureHighlight> highlights,
                                             QWidget* parent)
    : QWidget(parent) {
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(10);
    for (const FeatureHighlight& highlight : highlights) {
        rows->addWidget(makeRow(highlight));
    }
    tintIcons();
}

QWidget* FeatureHighlightsView::makeRow(const FeatureHighlight& highlight) {
    auto* row = new QWidget;
    auto* grid = new QGridLayout(row);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(2);
    grid->setColumnStretch(1, 1);

    auto* icon = new QLabel;
    icon->setFixedSize(28, 24);
    icon->setAlignment(Qt::AlignCenter);
    icon->setAccessibleName(QString());
    icon->setAttribute(Qt::WA_TransparentForMouseEvents);
    icons_.emplace_back(icon, highlight.symbol);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);

    auto* title = new QLabel(highlight.title);
    title->setTextFormat(Qt::PlainText);
    setFontSize(title, 13, QFont::Bold);
    grid->addWidget(title, 0, 1, Qt::AlignBottom);

    auto* description = new QLabel(highlight.description);
    description->setTextFormat(Qt::PlainText);
    description->setWordWrap(true);
    setFontSize(description, 12);
    ThemeColors::setTextRole(description, ThemeColors::Role::secondaryLabel);
    grid->addWidget(description, 1, 1, 1, 2);

    if (highlight.action) {
        auto* button = new LinkButton(highlight.action->title, ThemeColors::Role::link);
        button->setObjectName(highlight.action->identifier);
        setFontSize(button, 13);
        connect(button, &LinkButton::clicked, this, [this, button] { performAction(button); });
        actionHandlers_[button] = highlight.action->handler;
        grid->addWidget(button, 0, 2, Qt::AlignRight | Qt::AlignBottom);
    }
    return row;
}

void FeatureHighlightsView::performAction(QAbstractButton* sender) const {
    if (const auto found = actionHandlers_.find(sender);
        found != actionHandlers_.end() && found->second) {
        found->second();
    }
}

void FeatureHighlightsView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        tintIcons();
    }
}

void FeatureHighlightsView::tintIcons() {
    const QColor accent = ThemeColors::color(ThemeColors::Role::accent, palette());
    for (const auto& [label, symbol] : icons_) {
        label->setPixmap(SymbolIcon::tinted(symbol, {20, 20}, accent, devicePixelRatioF()));
    }
}

}  // namespace kelvra
