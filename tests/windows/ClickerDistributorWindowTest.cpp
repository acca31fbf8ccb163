// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "WidgetTestSupport.h"
#include "clicker/FakePermissionProvider.h"
#include "support/ManualMainThreadExecutor.h"
#include "windows/ClickerDistributorWindow.h"
#include "windows/widgets/ClickerKeyRecorderField.h"
#include "windows/widgets/ToggleSwitch.h"

namespace kelvra {
namespace {

/// A key as the X server reports it: the evdev code + 8 as the native scan code.
struct Key {
    int evdev;
    Qt::Key qtKey;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    QString text = {};
};

const Key kPageDown{KEY_PAGEDOWN, Qt::Key_PageDown};
const Key kTab{KEY_TAB, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t")};
const Key kBacktab{KEY_TAB, Qt::Key_Backtab, Qt::ShiftModifier};
const Key kSpace{KEY_SPACE, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" ")};
const Key kReturn{KEY_ENTER, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r")};
const Key kEscape{KEY_ESC, Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b")};
const Key kF5{KEY_F5, Qt::Key_F5};
/// A click on the focused control.
const Key kClick{0, Qt::Key_unknown};

// The window over a real model: what the person does reaches the model, what the model says is
// shown. The model's own rules have their tests beside it.
class ClickerDistributorWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClickerDistributorModel::Effects effects;
        effects.switchDistribution = [this](bool on, auto completion) {
            switchRequests.push_back(on);
            switchCompletion = std::move(completion);
        };
        effects.commitConfiguration = [this](const ClickerInputConfiguration& configuration) {
            stored = configuration;
            return ClickerDistributorModel::Committed{stored, std::nullopt};
        };
        model = std::make_unique<ClickerDistributorModel>(
            std::make_shared<testing::FakePermissionProvider>(), stored, executor, effects);
        window = std::make_unique<ClickerDistributorWindow>(*model);
        model->updateDistributorState(
            {.enabled = true, .enabledGroupCount = 1, .listenerRequired = true}, true);
        model->present();
        testing::showAndWait(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    template <typename T>
    T* child(const QString& name) const {
        return testing::child<T>(*window, name);
    }

    void press(const Key& key) {
        QWidget* receiver =
            QApplication::focusWidget() ? QApplication::focusWidget() : window.get();
        if (key.qtKey == Qt::Key_unknown) {
            QTest::mouseClick(receiver, Qt::LeftButton);
            return;
        }
        for (const auto type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent event(type, key.qtKey, key.modifiers, static_cast<quint32>(key.evdev + 8), 0,
                            0, key.text);
            QApplication::sendEvent(receiver, &event);
        }
    }

    void click(const QString& name) { QTest::mouseClick(child<QWidget>(name), Qt::LeftButton); }

    ClickerInputConfiguration stored = ClickerInputConfiguration::defaults();
    ManualMainThreadExecutor executor;
    std::vector<bool> switchRequests;
    ClickerDistributorModel::SwitchCompletion switchCompletion;
    std::unique_ptr<ClickerDistributorModel> model;
    std::unique_ptr<ClickerDistributorWindow> window;
};

// Only a click, Space or Return on a field, or its Listen button, records, and then any key,
// Tab too; Tab and Shift+Tab move through the window, Escape closes it unless a capture waits for
// a key, and the focus stays on the control used.
TEST_F(ClickerDistributorWindowTest, KeysMoveTheFocusAndRecordOnlyOnPurpose) {
    const struct {
        const char* name;
        QString start;
        std::vector<Key> keys;
        QString focusAfter;  ///< empty: the window closed
        QString nextShown = QStringLiteral("Page Down");
        QString previousShown = QStringLiteral("Page Up");
    } rows[] = {
        {"a click records", "nextKeyField", {kClick, kF5}, "nextKeyField", "F5"},
        {"Listen records Tab",
         "previousListenButton",
         {kClick, kTab},
         "previousListenButton",
         "Page Down",
         "Tab"},
        {"Shift+Tab passes them back",
         "nextListenButton",
         {kBacktab, kBacktab},
         "previousListenButton"},
        {"Space records", "nextKeyField", {kSpace, kF5}, "nextKeyField", "F5"},
        {"Return records", "nextKeyField", {kReturn, kTab}, "nextKeyField", "Tab"},
        {"Listen gives the focus back",
         "nextListenButton",
         {kReturn, kF5},
         "nextListenButton",
         "F5"},
        {"Escape cancels a capture only", "nextKeyField", {kSpace, kEscape}, "nextKeyField"},
        {"Escape closes", "nextKeyField", {kEscape}, ""},
        {"Escape closes from a button", "resetClickerMappings", {kEscape}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        stored = ClickerInputConfiguration::defaults();
        model->resetToDefaults();
        testing::showAndWait(window.get());
        child<QWidget>(row.start)->setFocus();
        for (const Key& key : row.keys) {
            press(key);
        }
        EXPECT_FALSE(model->state().capture.has_value());
        EXPECT_EQ(window->isVisible(), !row.focusAfter.isEmpty());
        if (!row.focusAfter.isEmpty()) {
            EXPECT_EQ(QApplication::focusWidget(), child<QWidget>(row.focusAfter));
        }
        EXPECT_EQ(QString::fromStdString(stored.next.displayName()), row.nextShown);
        EXPECT_EQ(QString::fromStdString(stored.previous.displayName()), row.previousShown);
    }
    testing::showAndWait(window.get());
    // Listen waits in the field; losing activation ends the wait, and coming back must not start
    // recording again.
    click("previousListenButton");
    EXPECT_EQ(QApplication::focusWidget(), child<QWidget>("previousKeyField"));
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(window.get(), &deactivate);
    EXPECT_FALSE(model->state().capture.has_value());
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(window.get(), &activate);
    EXPECT_FALSE(model->state().capture.has_value());

    // All the way round, the help first: nothing records.
    window->setFocus();
    QStringList stops;
    for (int step = 0; step < 12; ++step) {
        press(kTab);
        stops << QApplication::focusWidget()->objectName();
        EXPECT_FALSE(model->state().capture.has_value()) << stops.last().toStdString();
    }
    EXPECT_EQ(stops.mid(0, 7),
              QStringList({"clickerDistributorInformation", "clickerDistributorMasterSwitch",
                           "previousKeyField", "previousListenButton", "nextKeyField",
                           "nextListenButton", "addCustomAssignment"}));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window->isVisible()) << "Ctrl+W closes";
}

TEST_F(ClickerDistributorWindowTest, ShowsTheModelsStateAndReportsEachControl) {
    model->setListenerState(ClickerInputListenerState::failed);
    model->setConflicts({{ClickerKeyCode::pageDown, 0, {}}});
    auto* status = child<QLabel>("clickerDistributorRuntimeStatus");
    auto* note = child<QLabel>("nextKeyConflict");
    EXPECT_TRUE(note->isVisible());
    // What a screen reader hears is what the labels show.
    for (QLabel* label : {status, note, child<QLabel>("clickerDistributorState")}) {
        EXPECT_EQ(testing::spokenName(label), label->text());
    }

    click("addCustomAssignment");
    const QString id = QString::fromStdString(stored.customAssignments.at(0).id().string());
    auto* popup = child<QComboBox>("customCommandPopup-" + id);
    popup->setFocus();
    QTest::keyClick(popup, Qt::Key_Down);
    auto* listen = child<QPushButton>("customListenButton-" + id);
    click("customListenButton-" + id);
    // Each row's controls are named by its action, and Listen by what it does now.
    const QString action = QString::fromUtf8(displayName(allClickerCustomActions[0]).data());
    EXPECT_EQ(testing::spokenName(listen), "Cancel listening for " + action + " key");
    EXPECT_EQ(testing::spokenName(child<QWidget>("customKeyField-" + id)),
              action + " key assignment");
    press({KEY_B, Qt::Key_B, Qt::NoModifier, QStringLiteral("b")});
    EXPECT_EQ(testing::spokenName(listen), "Listen for " + action + " key");
    EXPECT_EQ(stored.customAssignments.at(0).action, allClickerCustomActions[0]);
    EXPECT_EQ(stored.customAssignments.at(0).keystroke->displayName(), "B");
    click("nextListenButton");
    testing::saveScreenshots(window.get(), QStringLiteral("clicker-distributor"));
    click("clickerDistributorInformation");
    EXPECT_TRUE(window->isInformationShown());

    click("deleteCustomAssignment-" + id);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->findChild<QWidget*>("customAssignmentRow-" + id), nullptr);
    EXPECT_FALSE(child<QLabel>("customAssignmentsEmpty")->isHidden());

    // The switch waits for the backend, and then has the focus again.
    auto* toggle = child<ToggleSwitch>("clickerDistributorMasterSwitch");
    toggle->setFocus();
    press(kSpace);
    EXPECT_EQ(switchRequests, std::vector<bool>{false});
    EXPECT_FALSE(toggle->isEnabled()) << "pending";
    EXPECT_FALSE(model->state().capture.has_value());
    switchCompletion(false);
    EXPECT_TRUE(toggle->hasFocus());
}

TEST_F(ClickerDistributorWindowTest, ClosesWhileAKeyFieldRecords) {
    // Destroying the window moves the focus out of the field, whose report must not reach the
    // half-destroyed window.
    click("nextKeyField");
    ASSERT_EQ(QApplication::focusWidget(), child<QWidget>("nextKeyField"));
    window.reset();
    // Nor may the model's next state.
    model->present();
}

}  // namespace
}  // namespace kelvra
