// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "WidgetTestSupport.h"
#include "windows/FeatureHighlightsView.h"

namespace kelvra {
namespace {

TEST(FeatureHighlightsViewTest, OnlyRowsWithAnActionGetAButtonAndEachCallsItsOwn) {
    QStringList calls;
    const auto action = [&calls](const QString& identifier) {
        return FeatureHighlight::Action{"Open…", identifier,
                                        [&calls, identifier] { calls << identifier; }};
    };
    FeatureHighlightsView view({
        {Symbol::presentationSync, "First", "One.", action("firstButton")},
        {Symbol::desktop, "Plain", "No action.", std::nullopt},
        {Symbol::clicker, "Second", "Two.", action("secondButton")},
    });
    testing::showAndWait(&view);
    EXPECT_EQ(view.findChildren<QAbstractButton*>().size(), 2);

    QTest::mouseClick(view.findChild<QAbstractButton*>("secondButton"), Qt::LeftButton);
    QTest::mouseClick(view.findChild<QAbstractButton*>("firstButton"), Qt::LeftButton);
    QPushButton stranger;
    view.performAction(&stranger);
    EXPECT_EQ(calls, QStringList({"secondButton", "firstButton"}));
}

}  // namespace
}  // namespace kelvra
