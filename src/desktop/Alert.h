// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

#include <QString>
#include <QStringList>

class QMessageBox;
class QWidget;

namespace kelvra {

enum class AlertStyle { informational, warning, critical };

/// An alert as the application shows them: its first button accepting and default, a "Cancel"
/// button rejecting and answering Escape (a lone button answers it too). On its own it is titled
/// "Kelvra Hub" and kept on top of other windows; over a window it bears the window's title and
/// blocks that window alone.
struct Alert {
    /// The responses of the first and second buttons; later buttons follow on.
    static constexpr int kFirstButtonResponse = 1000;
    static constexpr int kSecondButtonResponse = 1001;

    AlertStyle style = AlertStyle::critical;
    QString message;
    QString informativeText;
    QStringList buttons{QStringLiteral("OK")};

    /// Builds the box without showing it; the caller owns it.
    QMessageBox* create() const;

    /// Brings it to the front and runs it modally; returns the chosen button's response. When
    /// the box closes without a choice (the loop ended under it), the answer is Escape's.
    int run() const;

    /// Shows it on top and returns the box at once; `completion` (may be empty) runs on the
    /// main thread with the chosen button's response when it closes. The box deletes itself
    /// once closed.
    QMessageBox* open(std::function<void(int response)> completion) const;

    /// Shows it over `window`, modal to that window only, and returns the box at once, so the
    /// window's own event handling goes on; the box is the window's child and deletes itself
    /// once closed.
    QMessageBox* openOver(QWidget& window) const;

    /// The response of a finished box that `create` made.
    static int responseOf(const QMessageBox& box);
};

}  // namespace kelvra
