// SPDX-License-Identifier: MIT
#include "windows/widgets/HelpPopover.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace kelvra {

HelpPopover::HelpPopover(QWidget* parent, int width, int margin)
    : QFrame(parent, Qt::Popup | Qt::FramelessWindowHint),
      layout_(new QVBoxLayout(this)),
      contentWidth_(width) {
    setObjectName(QStringLiteral("helpPopover"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    layout_->setContentsMargins(margin, margin, margin, margin);
    layout_->setSpacing(10);
    layout_->setSizeConstraint(QLayout::SetFixedSize);
}

void HelpPopover::toggle(QAbstractButton* anchor, const QString& title,
                         const QStringList& paragraphs) {
    const bool openForAnchor = this->anchor() == anchor;
    close();
    if (!openForAnchor) {
        showFor(anchor, title, paragraphs);
    }
}

void HelpPopover::showFor(QAbstractButton* anchor, const QString& title,
                          const QStringList& paragraphs) {
    while (QLayoutItem* item = layout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    QLabel* heading = addLabel(title);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    for (const QString& paragraph : paragraphs) {
        addLabel(paragraph);
    }
    anchor_ = anchor;
    setAccessibleName(title);
    adjustSize();

    // Below the anchor, its centre under the anchor's centre, kept on the anchor's screen.
    const QPoint anchorBottom = anchor->mapToGlobal(QPoint(anchor->width() / 2, anchor->height()));
    QPoint topLeft(anchorBottom.x() - width() / 2, anchorBottom.y() + 4);
    if (const QScreen* screen = anchor->screen()) {
        const QRect available = screen->availableGeometry();
        topLeft.setX(std::clamp(topLeft.x(), available.left(),
                                std::max(available.left(), available.right() - width())));
        if (topLeft.y() + height() > available.bottom()) {
            topLeft.setY(anchor->mapToGlobal(QPoint(0, 0)).y() - height() - 4);
        }
    }
    move(topLeft);
    show();
}

QLabel* HelpPopover::addLabel(const QString& text) {
    auto* label = new QLabel(text, this);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFixedWidth(contentWidth_);
    // The fixed-size layout sizes a wrapped label by its size hint, which guesses another width.
    label->setMinimumHeight(label->heightForWidth(contentWidth_));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout_->addWidget(label);
    return label;
}

void HelpPopover::mousePressEvent(QMouseEvent* event) {
    // Qt replays the press that closes a popup to the widget beneath it; on the anchor that
    // would reopen the popover, so the anchor's press only closes it.
    const bool onAnchor = anchor_ && anchor_->rect().contains(
                                         anchor_->mapFromGlobal(event->globalPosition()).toPoint());
    setAttribute(Qt::WA_NoMouseReplay, onAnchor);
    QFrame::mousePressEvent(event);
}

void HelpPopover::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    emit closed();
}

}  // namespace kelvra
