// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

#include "WidgetTestSupport.h"
#include "windows/widgets/ToggleSwitch.h"

namespace kelvra {
namespace {

// Assistive technologies see a check box, whose toggle action is a user flip.
TEST(ToggleSwitchTest, UserFlipsReportOnceAndRevertingIsSilent) {
    ToggleSwitch toggle;
    toggle.setAccessibleName(QStringLiteral("Clicker Distributor"));
    testing::showAndWait(&toggle);
    QSignalSpy clicks(&toggle, &ToggleSwitch::clicked);

    QTest::mouseClick(&toggle, Qt::LeftButton);
    QTest::keyClick(&toggle, Qt::Key_Space);
    QTest::mouseClick(&toggle, Qt::LeftButton);
    ASSERT_EQ(clicks.count(), 3);
    EXPECT_EQ(clicks.at(0).at(0).toBool(), true);
    EXPECT_EQ(clicks.at(1).at(0).toBool(), false);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&toggle);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::CheckBox);
    EXPECT_TRUE(accessible->state().checkable);
    EXPECT_TRUE(accessible->state().checked);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Clicker Distributor"));

    toggle.setChecked(false);  // a refused flip put back
    EXPECT_EQ(clicks.count(), 3);
    EXPECT_FALSE(accessible->state().checked);

    accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(clicks.count(), 4);
    EXPECT_TRUE(toggle.isChecked());
}

}  // namespace
}  // namespace kelvra
