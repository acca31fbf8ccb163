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

// The window over a real model: what the person does reaches the model, what the model says is
// shown. The model's own rules have their tests beside it.
class ClickerDistributorWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClickerDistributorModel::Effects effects;
        effects.switchDistribution = [this](bool on, auto) { switchRequests.push_back(on); };
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
        for (const auto type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent event(type, key.qtKey, key.modifiers, static_cast<quint32>(key.evdev + 8), 0,
                            0, key.text);
            QApplication::sendEvent(receiver, &event);
        }
    }

    void click(const QString& name) { QTest::mouseClick(child<QWidget>(name), Qt::LeftButton); }

    /// Clicks `start` (a field or a Listen button) and presses `key`.
    void record(const QString& start, const Key& key) {
        click(start);
        press(key);
    }

    ClickerInputConfiguration stored = ClickerInputConfiguration::defaults();
    ManualMainThreadExecutor executor;
    std::vector<bool> switchRequests;
    std::unique_ptr<ClickerDistributorModel> model;
    std::unique_ptr<ClickerDistributorWindow> window;
};

TEST_F(ClickerDistributorWindowTest, RecordsTheKeyPressedInTheWindow) {
    const struct {
        QString field;
        bool listen;  ///< start with the Listen button instead of a click on the field
        Key key;
        QString shown;
    } rows[] = {
        {"nextKeyField", false, kPageDown, "Page Down"},
        {"previousKeyField", true, kTab, "Tab"},  // Tab must not move the focus
        {"nextKeyField", true, {KEY_A, Qt::Key_A, Qt::ControlModifier, "\x01"}, "⌃A"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shown.toStdString());
        auto* field = child<ClickerKeyRecorderField>(row.field);
        const QString listen = QString(row.field).replace("KeyField", "ListenButton");
        click(row.listen ? listen : row.field);
        QWidget* focusBefore = QApplication::focusWidget();
        EXPECT_EQ(field->text(),
                  row.listen ? QStringLiteral("Listening…") : QStringLiteral("Press a key…"));

        press(row.key);

        EXPECT_EQ(field->text(), row.shown);
        EXPECT_EQ(
            QString::fromStdString(
                (row.field.startsWith("previous") ? stored.previous : stored.next).displayName()),
            row.shown);
        EXPECT_NE(QApplication::focusWidget(), field) << "recording ends with the field";
        if (row.listen) {
            EXPECT_EQ(QApplication::focusWidget(), focusBefore);
        }
    }
    // Losing activation ends a capture, and coming back must not start recording again.
    click("previousKeyField");
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(window.get(), &deactivate);
    EXPECT_FALSE(model->state().capture.has_value());
    EXPECT_NE(window->focusWidget(), child<QWidget>("previousKeyField"));
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
    record("customListenButton-" + id, {KEY_B, Qt::Key_B, Qt::NoModifier, QStringLiteral("b")});
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

    auto* toggle = child<ToggleSwitch>("clickerDistributorMasterSwitch");
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_EQ(switchRequests, std::vector<bool>{false});
    EXPECT_FALSE(toggle->isEnabled()) << "pending";
    EXPECT_FALSE(model->state().capture.has_value()) << "the focus went on to a field";
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
