// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "WidgetTestSupport.h"
#include "windows/widgets/ElidedLabel.h"

namespace kelvra {
namespace {

TEST(ElidedLabelTest, ShortensToItsWidthKeepingBothEndsAndTellsTheWholeText) {
    const QString full = QStringLiteral("Running on fd12:3456:789a:1::1234:31603 and more");
    const struct {
        Qt::TextElideMode mode;
        bool keepsStart;
        bool keepsEnd;
    } rows[] = {{Qt::ElideMiddle, true, true}, {Qt::ElideRight, true, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode);
        ElidedLabel label(row.mode);
        label.setFullText(full);
        label.resize(label.fontMetrics().horizontalAdvance(full) / 2, 30);
        testing::showAndWait(&label);
        EXPECT_NE(label.text(), full);
        EXPECT_TRUE(label.text().contains(QChar(0x2026)));
        EXPECT_EQ(label.text().startsWith(QStringLiteral("Running")), row.keepsStart);
        EXPECT_EQ(label.text().endsWith(QStringLiteral("more")), row.keepsEnd);
        EXPECT_EQ(label.toolTip(), full);
        EXPECT_EQ(label.accessibleName(), full);

        label.resize(label.fontMetrics().horizontalAdvance(full) + 20, 30);
        EXPECT_EQ(label.text(), full);
        EXPECT_TRUE(label.toolTip().isEmpty());
    }
}

}  // namespace
}  // namespace kelvra
