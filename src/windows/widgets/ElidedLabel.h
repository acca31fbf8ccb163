// SPDX-License-Identifier: MIT
#pragma once

#include <QLabel>

namespace kelvra {

/// A one-line label that shortens its text to the width it is given, in the middle or at the
/// end, and shows the whole text as its tooltip while shortened. It never asks for more width
/// than a few characters, so a long text cannot widen its window.
class ElidedLabel final : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return fullText_; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateShownText();

    Qt::TextElideMode mode_;
    QString fullText_;
};

}  // namespace kelvra
