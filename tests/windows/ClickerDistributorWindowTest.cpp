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
#include "windows/widgets/ThemeColors.h"
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
const Key kF5{KEY_F5, Qt::Key_F5};
const Key kF7{KEY_F7, Qt::Key_F7};
const Key kEscape{KEY_ESC, Qt::Key_Escape};
const Key kTab{KEY_TAB, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t")};

// The window over a real model: what the person does reaches the model, what the model says is
// shown. The model's own rules have their tests beside it.
class ClickerDistributorWindowTest : public ::testing::Test {
protected:
    void SetUp() override { makeWindow(); }

    void makeWindow() {
        window.reset();
        model = std::make_unique<ClickerDistributorModel>(
            std::make_shared<testing::FakePermissionProvider>(), stored, executor,
            ClickerDistributorModel::Effects{
                .switchDistribution = [this](bool requested,
                                             auto) { switchRequests.push_back(requested); },
                .commitConfiguration = [this](const ClickerInputConfiguration& configuration)
                    -> ClickerDistributorModel::Committed {
                    stored = configuration;
                    return {stored, std::nullopt};
                },
                .testDemandChanged = {},
                .recordingChanged = {},
                .permissionChanged = {},
                .bringToFront = {},
            });
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

    QString customId(size_t index) const {
        return QString::fromStdString(stored.customAssignments.at(index).id().string());
    }

    QLabel* feedback() const { return child<QLabel>("clickerMappingFeedback"); }

    bool shownIn(QLabel* label, ThemeColors::Role role) const {
        return label->palette().color(QPalette::WindowText) ==
               ThemeColors::color(role, window->palette());
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
        {"nextKeyField", false, {KEY_UP, Qt::Key_Up, Qt::ShiftModifier}, "⇧Up Arrow"},
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
    // No capture: keys reach the controls.
    click("nextListenButton");
    press(kEscape);
    EXPECT_FALSE(model->state().capture.has_value());
}

TEST_F(ClickerDistributorWindowTest, LosingActivationCancelsAndLeavesTheField) {
    for (const QString start : {"previousKeyField", "previousListenButton"}) {
        click(start);
        ASSERT_TRUE(model->state().capture.has_value());
        QEvent event(QEvent::WindowDeactivate);
        QApplication::sendEvent(window.get(), &event);
        EXPECT_FALSE(model->state().capture.has_value());
        EXPECT_EQ(child<ClickerKeyRecorderField>("previousKeyField")->text(),
                  QStringLiteral("Page Up"));
        EXPECT_EQ(child<QPushButton>("previousListenButton")->text(), QStringLiteral("Listen"));
        EXPECT_NE(window->focusWidget(), child<QWidget>("previousKeyField"))
            << "coming back must not start recording again";
    }
}

TEST_F(ClickerDistributorWindowTest, CustomRowsAreAddedChosenDeletedAndReadBack) {
    click("addCustomAssignment");
    click("addCustomAssignment");
    const QString first = customId(0), second = customId(1);
    EXPECT_TRUE(child<QLabel>("customAssignmentsEmpty")->isHidden());

    record("customListenButton-" + first, kF7);
    record("customListenButton-" + second, kF7);
    EXPECT_TRUE(feedback()->text().startsWith(QStringLiteral("F7 is already assigned")));
    EXPECT_TRUE(shownIn(feedback(), ThemeColors::Role::red));
    EXPECT_EQ(testing::spokenName(feedback()), feedback()->text());

    auto* popup = child<QComboBox>("customCommandPopup-" + first);
    popup->setFocus();
    for (int step = 0; step < 3; ++step) {
        QTest::keyClick(popup, Qt::Key_Down);
    }
    EXPECT_EQ(popup->currentText(), QStringLiteral("Blackout"));
    click("deleteCustomAssignment-" + second);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->findChild<QWidget*>("customAssignmentRow-" + second), nullptr);
    ASSERT_EQ(stored.customAssignments.size(), 1u);
    EXPECT_EQ(stored.customAssignments[0].action, ClickerCustomAction::blackout);

    makeWindow();  // a restart shows what was stored
    EXPECT_EQ(child<QComboBox>("customCommandPopup-" + first)->currentText(),
              QStringLiteral("Blackout"));
    EXPECT_EQ(child<ClickerKeyRecorderField>("customKeyField-" + first)->text(),
              QStringLiteral("F7"));
    click("deleteCustomAssignment-" + first);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(child<QLabel>("customAssignmentsEmpty")->isHidden());
}

// During the input test the controls that would change the assignments wait; Escape ends it.
TEST_F(ClickerDistributorWindowTest, InputTestKeepsAssignedKeysFromTheControls) {
    click("testAssignedClickerKeys");
    EXPECT_EQ(child<QPushButton>("testAssignedClickerKeys")->text(), QStringLiteral("Cancel Test"));
    EXPECT_FALSE(child<QWidget>("resetClickerMappings")->isEnabled());
    EXPECT_FALSE(child<QWidget>("clickerDistributorMasterSwitch")->isEnabled());
    press(kEscape);
    EXPECT_TRUE(child<QWidget>("resetClickerMappings")->isEnabled());
}

TEST_F(ClickerDistributorWindowTest, SwitchStatusAndConflictsAreShownAsTheModelSays) {
    auto* status = child<QLabel>("clickerDistributorRuntimeStatus");
    auto* value = child<QLabel>("clickerDistributorState");
    EXPECT_EQ(value->text(), QStringLiteral("On"));
    model->setListenerState(ClickerInputListenerState::failed);
    EXPECT_TRUE(status->text().startsWith(QStringLiteral("Listener error")));
    EXPECT_TRUE(shownIn(status, ThemeColors::Role::red));
    EXPECT_EQ(testing::spokenName(status), status->text());
    EXPECT_EQ(testing::spokenName(value), value->text());
    EXPECT_TRUE(child<QWidget>("clickerPermissionAction")->isHidden());

    model->setConflicts({{ClickerKeyCode::pageDown, 0, {}}});
    auto* note = child<QLabel>("nextKeyConflict");
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(testing::spokenName(note), note->text());
    EXPECT_FALSE(child<QLabel>("previousKeyConflict")->isVisible());

    auto* toggle = child<ToggleSwitch>("clickerDistributorMasterSwitch");
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_EQ(switchRequests, std::vector<bool>{false});
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_FALSE(toggle->isEnabled()) << "pending";
    EXPECT_FALSE(model->state().capture.has_value()) << "the focus went on to a field";
    model->updateDistributorState({}, true);
    EXPECT_FALSE(child<QWidget>("previousKeyField")->isVisible());
}

TEST_F(ClickerDistributorWindowTest, Screenshots) {
    click("addCustomAssignment");
    const QString id = customId(0);
    auto* popup = child<QComboBox>("customCommandPopup-" + id);
    popup->setCurrentIndex(4);
    emit popup->activated(4);
    record("customListenButton-" + id, {KEY_B, Qt::Key_B, Qt::NoModifier, QStringLiteral("b")});
    click("nextListenButton");
    testing::saveScreenshots(window.get(), QStringLiteral("clicker-distributor"));
    click("clickerDistributorInformation");
    EXPECT_TRUE(window->isInformationShown());
    const auto labels = window->findChildren<QLabel*>();
    EXPECT_TRUE(std::ranges::any_of(labels, [](QLabel* label) {
        return label->text().startsWith(QStringLiteral("Choose a Kelvra action, then record"));
    }));
}

}  // namespace
}  // namespace kelvra
