// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "WidgetTestSupport.h"
#include "windows/widgets/HelpPopover.h"

namespace kelvra {
namespace {

class HelpPopoverTest : public ::testing::Test {
protected:
    HelpPopoverTest() {
        auto* layout = new QHBoxLayout(&window_);
        for (QPushButton* button : {first_, second_}) {
            layout->addWidget(button);
            QObject::connect(button, &QPushButton::clicked, &window_, [this, button] {
                popover_->toggle(button, button->text(),
                                 {QStringLiteral("Help for ") + button->text()});
            });
        }
        testing::showAndWait(&window_);
    }

    // Through the window system, as a real click: only that path meets the open popup first.
    void click(QPushButton* button) {
        const QPoint position = button->mapTo(&window_, button->rect().center());
        QTest::mousePress(window_.windowHandle(), Qt::LeftButton, {}, position);
        QApplication::processEvents();
        QTest::mouseRelease(window_.windowHandle(), Qt::LeftButton, {}, position);
        QApplication::processEvents();
    }

    QStringList shownTexts() const {
        QStringList texts;
        for (const QLabel* label : popover_->findChildren<QLabel*>()) {
            texts << label->text();
        }
        return texts;
    }

    QWidget window_;
    QPushButton* first_ = new QPushButton(QStringLiteral("First"));
    QPushButton* second_ = new QPushButton(QStringLiteral("Second"));
    HelpPopover* popover_ = new HelpPopover(&window_);
};

TEST_F(HelpPopoverTest, ItsAnchorOrEscapeClosesItWithoutReopening) {
    int closes = 0;
    QObject::connect(popover_, &HelpPopover::closed, [&closes] { ++closes; });
    click(first_);
    ASSERT_EQ(popover_->anchor(), first_);
    EXPECT_EQ(shownTexts(), (QStringList{"First", "Help for First"}));
    EXPECT_GE(popover_->geometry().top(), first_->mapToGlobal(QPoint(0, first_->height())).y());

    click(first_);
    EXPECT_FALSE(popover_->isVisible());
    EXPECT_EQ(popover_->anchor(), nullptr);

    click(first_);
    QTest::keyClick(popover_, Qt::Key_Escape);
    EXPECT_FALSE(popover_->isVisible());
    EXPECT_EQ(closes, 2);
}

}  // namespace
}  // namespace kelvra
