// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

#include <QFrame>
#include <QPointer>

class QAbstractButton;
class QLabel;
class QToolButton;
class QVBoxLayout;

namespace kelvra {

/// Makes the help button of a settings row from the row's title and its help text.
using HelpButtonFactory = std::function<QToolButton*(const QString& title, const QString& help)>;

/// A transient popover anchored below a button: a frameless popup that closes on Escape or a
/// click elsewhere. A click on its own anchor closes it without reaching the anchor, so the
/// anchor's "show" does not open it again at once; `toggle` gives the anchor's action.
class HelpPopover final : public QFrame {
    Q_OBJECT

public:
    /// `width` is the content width in logical pixels, `margin` the space around it.
    explicit HelpPopover(QWidget* parent, int width = 300, int margin = 14);

    /// Closes the popover when it is open for `anchor`; otherwise closes it and opens it for
    /// `anchor` with `title` (bold) and `paragraphs`.
    void toggle(QAbstractButton* anchor, const QString& title, const QStringList& paragraphs);

    /// The button it is open for; null while closed.
    QAbstractButton* anchor() const { return isVisible() ? anchor_.data() : nullptr; }

signals:
    void closed();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showFor(QAbstractButton* anchor, const QString& title, const QStringList& paragraphs);
    QLabel* addLabel(const QString& text);

    QPointer<QAbstractButton> anchor_;
    QVBoxLayout* layout_;
    int contentWidth_;
};

}  // namespace kelvra
