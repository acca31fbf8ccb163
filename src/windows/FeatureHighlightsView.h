// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <vector>

#include <QString>
#include <QWidget>

#include "windows/widgets/SymbolIcon.h"

class QAbstractButton;
class QLabel;

namespace kelvra {

/// One headline feature: a symbol, a title, a description and an optional button.
struct FeatureHighlight {
    struct Action {
        QString title;
        /// The button's object name.
        QString identifier;
        std::function<void()> handler;
    };

    Symbol symbol;
    QString title;
    QString description;
    std::optional<Action> action;
};

/// The highlights both the welcome and the about window show; the welcome window adds a button
/// to the Clicker Distributor's.
FeatureHighlight presentationSyncHighlight();
FeatureHighlight clickerDistributorHighlight(
    std::optional<FeatureHighlight::Action> action = std::nullopt);

/// The feature rows of the welcome and about windows, one per highlight, in order.
class FeatureHighlightsView final : public QWidget {
    Q_OBJECT

public:
    explicit FeatureHighlightsView(std::vector<FeatureHighlight> highlights,
                                   QWidget* parent = nullptr);

    /// Runs the handler of the row whose button is `sender`; any other sender does nothing.
    void performAction(QAbstractButton* sender) const;

protected:
    void changeEvent(QEvent* event) override;

private:
    QWidget* makeRow(const FeatureHighlight& highlight);
    void tintIcons();

    std::map<QAbstractButton*, std::function<void()>> actionHandlers_;
    std::vector<std::pair<QLabel*, Symbol>> icons_;
};

}  // namespace kelvra
