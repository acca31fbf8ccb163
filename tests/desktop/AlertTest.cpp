// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <optional>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "desktop/Alert.h"

namespace kelvra {
namespace {

// The box `open` shows, once it is up.
QMessageBox* shownAlert() {
    QMessageBox* shown = nullptr;
    (void)QTest::qWaitFor(
        [&] {
            for (auto* widget : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                    shown = box;
                }
            }
            return shown != nullptr;
        },
        10000);
    return shown;
}

const Alert kQuitConfirmation{
    .style = AlertStyle::warning,
    .message = QStringLiteral("Are you sure you want to quit Kelvra Hub?"),
    .informativeText = QStringLiteral("Kelvra Hub will stop running."),
    .buttons = {QStringLiteral("Quit"), QStringLiteral("Cancel")},
};

TEST(AlertTest, TheFirstButtonAcceptsByDefaultAndCancelAnswersEscapeAndItsClick) {
    const struct {
        const char* name;
        Alert alert;
        std::optional<Qt::Key> key;  ///< absent: a click on Cancel
        int response;
    } rows[] = {
        {"Return chooses Quit", kQuitConfirmation, Qt::Key_Return, 1000},
        {"Escape chooses Cancel", kQuitConfirmation, Qt::Key_Escape, 1001},
        {"a click on Cancel", kQuitConfirmation, std::nullopt, Alert::kSecondButtonResponse},
        {"Escape closes a lone OK",
         Alert{.message = QStringLiteral("Failed."), .informativeText = {}}, Qt::Key_Escape, 1000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<int> response;
        row.alert.open([&](int chosen) { response = chosen; });
        QMessageBox* box = shownAlert();
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_EQ(box->defaultButton()->text(), row.alert.buttons.front());
        if (row.key) {
            QTest::keyClick(box, *row.key);
        } else {
            QTest::mouseClick(box->escapeButton(), Qt::LeftButton);  // Cancel, as Escape shows
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return response.has_value(); }, 10000));
        EXPECT_EQ(*response, row.response);
    }
}

// Over a window: it blocks that window alone and the call returns while it is up, so the
// window goes on handling its events; Escape dismisses a lone OK and the box goes.
TEST(AlertTest, AnAlertOverAWindowIsModalToThatWindowAlone) {
    QWidget window;
    window.setWindowTitle(QStringLiteral("Kelvra Hub Settings"));
    window.show();
    const QPointer<QMessageBox> box =
        Alert{.message = QStringLiteral("Failed."), .informativeText = {}}.openOver(window);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    EXPECT_EQ(box->parentWidget(), &window);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->windowTitle(), window.windowTitle());
    EXPECT_FALSE(box->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return box.isNull();
    }));
}

}  // namespace
}  // namespace kelvra
