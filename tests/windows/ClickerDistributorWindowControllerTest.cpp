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
#include "support/TestSupport.h"
#include "windows/ClickerDistributorWindowController.h"
#include "windows/widgets/ClickerKeyRecorderField.h"
#include "windows/widgets/ThemeColors.h"
#include "windows/widgets/ToggleSwitch.h"

// Readable failures; internal, so no other test file's printer can clash with it.
static void PrintTo(const QString& text, std::ostream* stream) {
    *stream << '"' << text.toStdString() << '"';
}

namespace kelvra {
namespace {

using namespace std::chrono_literals;
using Status = AccessibilityAuthorizationStatus;

using testing::FakePermissionProvider;

/// A key as the X server reports it: the evdev code + 8 as the native scan code.
struct Key {
    int evdev;
    Qt::Key qtKey;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    QString text = {};
};

const Key kPageDown{KEY_PAGEDOWN, Qt::Key_PageDown};
const Key kPageUp{KEY_PAGEUP, Qt::Key_PageUp};
const Key kF5{KEY_F5, Qt::Key_F5};
const Key kF7{KEY_F7, Qt::Key_F7};
const Key kEscape{KEY_ESC, Qt::Key_Escape};
const Key kTab{KEY_TAB, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t")};

class ClickerDistributorWindowControllerTest : public ::testing::Test {
protected:
    void SetUp() override { makeController(); }

    void makeController() {
        controller.reset();
        ClickerDistributorWindowController::Callbacks callbacks{
            .onMasterUpdate =
                [this](bool requested, auto completion) {
                    masterRequests.push_back(requested);
                    masterCompletion = std::move(completion);
                },
            // The owner's side: it stores what it is given, or keeps what it had and says why.
            .commitConfiguration = [this](const ClickerInputConfiguration& configuration)
                -> ClickerDistributorWindowController::Committed {
                reportedConfigurations.push_back(configuration);
                if (failSaving) {
                    return {stored, "Kelvra Hub could not save its settings: the disk is full."};
                }
                stored = configuration;
                return {stored, std::nullopt};
            },
            .onTestDemandChanged = [this](bool demand) { testDemands.push_back(demand); },
            .onRecordingChanged = [this](bool recording) { recordings.push_back(recording); },
            .onPermissionChanged = [this](Status status) { permissions.push_back(status); },
        };
        controller = std::make_unique<ClickerDistributorWindowController>(
            permission, stored, executor, std::move(callbacks));
        window = controller->window();
        controller->present();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }

    /// Distribution on, a group receiving clicks, the backend running, keyboard access given.
    void turnOn() {
        controller->updateDistributorState(
            {.enabled = true, .enabledGroupCount = 1, .listenerRequired = true}, true);
    }

    /// The identifier of the stored custom row at `index`, as its widgets' names end.
    QString customId(size_t index) const {
        return QString::fromStdString(stored.customAssignments.at(index).id().string());
    }

    void press(const Key& key) {
        QWidget* receiver = QApplication::focusWidget() ? QApplication::focusWidget() : window;
        for (const auto type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent event(type, key.qtKey, key.modifiers, static_cast<quint32>(key.evdev + 8), 0,
                            0, key.text);
            QApplication::sendEvent(receiver, &event);
        }
    }

    /// Clicks `start` (a field or a Listen button) and presses `key`.
    void record(QWidget* start, const Key& key) {
        QTest::mouseClick(start, Qt::LeftButton);
        press(key);
    }

    void recordCustom(const QString& id, const Key& key) {
        record(child<QPushButton>("customListenButton-" + id), key);
    }

    /// Adds two custom rows and answers their identifiers.
    std::pair<QString, QString> addTwoCustomRows() {
        QTest::mouseClick(window->addCustomAssignmentButton, Qt::LeftButton);
        QTest::mouseClick(window->addCustomAssignmentButton, Qt::LeftButton);
        return {customId(0), customId(1)};
    }

    void deleteCustom(const QString& id) {
        QTest::mouseClick(child<QToolButton>("deleteCustomAssignment-" + id), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    template <typename T>
    T* child(const QString& identifier) const {
        return window->findChild<T*>(identifier);
    }

    QString feedback() const { return window->feedbackLabel->text(); }

    bool feedbackIn(ThemeColors::Role role) const {
        return window->feedbackLabel->palette().color(QPalette::WindowText) ==
               ThemeColors::color(role, window->palette());
    }

    bool failSaving = false;
    /// What the owner holds: what the window starts from, and every commit that was saved.
    ClickerInputConfiguration stored = ClickerInputConfiguration::defaults();
    std::shared_ptr<FakePermissionProvider> permission = std::make_shared<FakePermissionProvider>();
    ManualMainThreadExecutor executor;
    std::vector<bool> masterRequests;
    ClickerDistributorWindowController::MasterUpdateCompletion masterCompletion;
    std::vector<ClickerInputConfiguration> reportedConfigurations;
    std::vector<bool> testDemands;
    std::vector<bool> recordings;
    std::vector<Status> permissions;
    std::unique_ptr<ClickerDistributorWindowController> controller;
    ClickerDistributorWindow* window = nullptr;
};

const QString kDefaultFeedback = QStringLiteral(
    "Each Previous slide, Next slide, or custom assignment must use a different keystroke.");

TEST_F(ClickerDistributorWindowControllerTest, RecordsTheKeyPressedAndStoresIt) {
    const struct {
        QString field;
        bool listen;  ///< start with the Listen button instead of a click on the field
        Key key;
        QString shown;
        uint16_t keyCode;
        uint64_t modifiers;
    } rows[] = {
        {"nextKeyField", false, kPageDown, "Page Down", 121, 0},
        {"previousKeyField", true, kF5, "F5", 96, 0},
        {"nextKeyField", false, {KEY_UP, Qt::Key_Up, Qt::ShiftModifier}, "⇧Up Arrow", 126, 0x20000},
        {"previousKeyField", true, kTab, "Tab", 48, 0},  // Tab must not move the focus
        {"nextKeyField", true, {KEY_A, Qt::Key_A, Qt::ControlModifier, "\x01"}, "⌃A", 0, 0x40000},
    };
    turnOn();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shown.toStdString());
        recordings.clear();
        auto* field = child<ClickerKeyRecorderField>(row.field);
        const QString listenName = QString(row.field).replace("KeyField", "ListenButton");
        QTest::mouseClick(
            row.listen ? static_cast<QWidget*>(child<QPushButton>(listenName)) : field,
            Qt::LeftButton);
        QWidget* focusBefore = QApplication::focusWidget();

        press({KEY_LEFTSHIFT, Qt::Key_Shift, Qt::ShiftModifier});  // alone: keeps waiting
        EXPECT_TRUE(controller->pendingCapture().has_value());
        press(row.key);

        EXPECT_FALSE(controller->pendingCapture().has_value());
        EXPECT_EQ(field->text(), row.shown);
        EXPECT_EQ(feedback(), kDefaultFeedback);
        EXPECT_EQ(recordings, (std::vector<bool>{true, false}));
        EXPECT_NE(QApplication::focusWidget(), field) << "recording ends with the field";
        if (row.listen) {
            EXPECT_EQ(QApplication::focusWidget(), focusBefore);
        }
        const ClickerKeystroke& recorded =
            row.field.startsWith("previous") ? stored.previous : stored.next;
        EXPECT_EQ(recorded.keyCode, row.keyCode);
        EXPECT_EQ(recorded.modifierFlags, row.modifiers);
    }
}

TEST_F(ClickerDistributorWindowControllerTest, EscapeListenAgainOrLosingActivationCancels) {
    turnOn();
    const auto deactivate = [&] {
        QEvent event(QEvent::WindowDeactivate);
        QApplication::sendEvent(window, &event);
    };
    const struct {
        QWidget* start;
        std::function<void()> cancel;
    } rows[] = {
        {window->previousListenButton, [&] { press(kEscape); }},
        {window->previousListenButton,
         [&] {
             press({KEY_ESC, Qt::Key_Escape, Qt::ShiftModifier});
         }},
        {window->previousListenButton,
         [&] { QTest::mouseClick(window->previousListenButton, Qt::LeftButton); }},
        {window->previousField, deactivate},
        {window->previousListenButton, deactivate},
    };
    for (const auto& row : rows) {
        QTest::mouseClick(row.start, Qt::LeftButton);
        ASSERT_TRUE(controller->pendingCapture().has_value());
        row.cancel();
        EXPECT_FALSE(controller->pendingCapture().has_value());
        EXPECT_EQ(window->previousField->text(), QStringLiteral("Page Up"));
        EXPECT_EQ(window->previousListenButton->text(), QStringLiteral("Listen"));
        EXPECT_EQ(feedback(), kDefaultFeedback);
        EXPECT_NE(window->focusWidget(), window->previousField)
            << "coming back must not start recording again";
    }
    EXPECT_TRUE(reportedConfigurations.empty());
    EXPECT_EQ(recordings,
              (std::vector<bool>{true, false, true, false, true, false, true, false, true, false}));
}

TEST_F(ClickerDistributorWindowControllerTest, ConflictIsShownAndNothingIsStored) {
    turnOn();
    record(window->nextListenButton, kF5);
    const size_t reports = reportedConfigurations.size();

    record(window->previousField, kF5);

    EXPECT_TRUE(feedback().startsWith(QStringLiteral("F5 is already assigned to Next slide")));
    EXPECT_EQ(testing::spokenName(window->feedbackLabel), feedback());
    EXPECT_TRUE(feedbackIn(ThemeColors::Role::red));
    EXPECT_EQ(window->previousField->text(), QStringLiteral("Page Up"));
    EXPECT_EQ(reportedConfigurations.size(), reports);
    EXPECT_FALSE(controller->pendingCapture().has_value());
}

TEST_F(ClickerDistributorWindowControllerTest, CustomRowsAreAddedAssignedDeletedAndReadBack) {
    turnOn();
    const auto [first, second] = addTwoCustomRows();  // rows are stored when added
    EXPECT_TRUE(window->customEmptyLabel->isHidden());

    // Both rows are empty: the conflict names each "the custom assignment".
    recordCustom(first, kF7);
    recordCustom(second, kF7);
    EXPECT_TRUE(feedback().startsWith(QStringLiteral("F7 is already assigned")));

    auto* popup = child<QComboBox>("customCommandPopup-" + first);
    popup->setFocus();
    QTest::keyClick(popup, Qt::Key_Down);
    QTest::keyClick(popup, Qt::Key_Down);
    QTest::keyClick(popup, Qt::Key_Down);
    EXPECT_EQ(popup->currentText(), QStringLiteral("Blackout"));

    deleteCustom(second);
    EXPECT_EQ(child<QWidget>("customAssignmentRow-" + second), nullptr);

    ASSERT_EQ(stored.customAssignments.size(), 1u);
    EXPECT_EQ(stored.customAssignments[0].action, ClickerCustomAction::blackout);
    EXPECT_EQ(stored.customAssignments[0].keystroke->keyCode, 98);

    makeController();  // a restart shows what was stored
    turnOn();
    EXPECT_EQ(child<QComboBox>("customCommandPopup-" + first)->currentText(),
              QStringLiteral("Blackout"));
    EXPECT_EQ(child<ClickerKeyRecorderField>("customKeyField-" + first)->text(),
              QStringLiteral("F7"));
    deleteCustom(first);
    EXPECT_TRUE(stored.customAssignments.empty());
    EXPECT_FALSE(window->customEmptyLabel->isHidden());
}

TEST_F(ClickerDistributorWindowControllerTest, ResetUnassignsOnlyConflictingCustomKeys) {
    turnOn();
    record(window->previousListenButton, kF7);
    const auto [pageUpRow, f5Row] = addTwoCustomRows();
    recordCustom(pageUpRow, kPageUp);
    recordCustom(f5Row, kF5);

    QTest::mouseClick(window->resetButton, Qt::LeftButton);

    EXPECT_TRUE(feedback().contains(QStringLiteral("unassigned")));
    EXPECT_TRUE(feedbackIn(ThemeColors::Role::red));
    EXPECT_EQ(stored.previous.keyCode, 116);
    EXPECT_EQ(stored.next.keyCode, 121);
    EXPECT_FALSE(stored.customAssignments[0].keystroke.has_value());
    EXPECT_EQ(stored.customAssignments[1].keystroke->keyCode, 96);
    EXPECT_EQ(child<ClickerKeyRecorderField>("customKeyField-" + pageUpRow)->text(),
              QStringLiteral("Not assigned"));
}

TEST_F(ClickerDistributorWindowControllerTest, InputTestEndsAfterTenSecondsOrOnDetection) {
    turnOn();
    controller->refreshPermissionState();
    QTest::mouseClick(window->testButton, Qt::LeftButton);
    EXPECT_TRUE(controller->isTestingInput());
    EXPECT_FALSE(window->resetButton->isEnabled());
    EXPECT_FALSE(window->masterSwitch->isEnabled());

    // Assigned keys are kept from the window's controls; Escape is not an assignment.
    press(kPageDown);
    executor.advance(9900ms);
    EXPECT_TRUE(controller->isTestingInput());
    executor.advance(100ms);
    EXPECT_FALSE(controller->isTestingInput());
    EXPECT_TRUE(feedbackIn(ThemeColors::Role::red));

    QTest::mouseClick(window->testButton, Qt::LeftButton);
    controller->detectedAssignedInput(ClickerDirection::right);
    const QString detected = feedback();
    EXPECT_TRUE(detected.contains(QStringLiteral("Next slide — Page Down")))
        << detected.toStdString();
    EXPECT_TRUE(feedbackIn(ThemeColors::Role::green));
    executor.advance(20s);
    EXPECT_EQ(feedback(), detected) << "the cancelled timeout must not fire";

    record(window->testButton, kEscape);
    EXPECT_FALSE(controller->isTestingInput());

    // A backend restart ends it too, and no test starts until the next backend is there.
    QTest::mouseClick(window->testButton, Qt::LeftButton);
    controller->backendRestarting();
    EXPECT_FALSE(controller->isTestingInput());
    EXPECT_TRUE(feedbackIn(ThemeColors::Role::secondaryLabel));
    EXPECT_FALSE(window->testButton->isEnabled());
    EXPECT_EQ(testDemands, (std::vector<bool>{true, false, true, false, true, false, true, false}));
}

TEST_F(ClickerDistributorWindowControllerTest, MasterSwitchWaitsForTheBackendAndRevertsOnFailure) {
    controller->updateDistributorState({}, true);
    EXPECT_FALSE(window->previousField->isVisible());
    QTest::mouseClick(window->masterSwitch, Qt::LeftButton);
    ASSERT_EQ(masterRequests, std::vector<bool>{true});
    EXPECT_FALSE(window->masterSwitch->isEnabled()) << "pending";
    EXPECT_TRUE(window->masterSwitch->isChecked());

    masterCompletion(
        std::unexpected(BackendSupervisorError(BackendSupervisorError::Kind::backendUnavailable)));
    EXPECT_FALSE(window->masterSwitch->isChecked());
    EXPECT_TRUE(window->masterSwitch->isEnabled());
    EXPECT_EQ(window->masterValueLabel->text(), QStringLiteral("Off"));
    EXPECT_EQ(masterRequests.size(), 1u) << "putting the switch back must not ask again";

    QTest::mouseClick(window->masterSwitch, Qt::LeftButton);
    masterCompletion(true);
    EXPECT_TRUE(window->masterSwitch->isChecked());
    EXPECT_EQ(window->masterValueLabel->text(), QStringLiteral("On"));
    EXPECT_TRUE(window->previousField->isVisible());
    EXPECT_EQ(masterRequests, (std::vector<bool>{true, true}));

    // A backend restart leaves no request pending: the switch shows the state and waits for
    // the next backend, whose state frees it.
    QTest::mouseClick(window->masterSwitch, Qt::LeftButton);
    EXPECT_FALSE(controller->pendingCapture().has_value()) << "the focus went on to a field";
    controller->backendRestarting();
    EXPECT_TRUE(window->masterSwitch->isChecked());
    EXPECT_FALSE(window->masterSwitch->isEnabled());
    turnOn();
    EXPECT_TRUE(window->masterSwitch->isEnabled());
}

// Keystrokes another program holds: a note under each such assignment, gone once the
// assignment changes or the program lets go.
TEST_F(ClickerDistributorWindowControllerTest, ConflictsAreShownUnderTheKeystrokeAnotherHolds) {
    turnOn();
    const QString custom = addTwoCustomRows().first;
    recordCustom(custom, kF7);
    auto* customNote = child<QLabel>("customKeyConflict-" + custom);
    const ClickerKeystroke pageDown{121, 0, {}}, f7{98, 0, {}};

    controller->setConflicts({pageDown, f7});
    EXPECT_TRUE(window->nextConflictLabel->isVisible());
    EXPECT_TRUE(window->nextConflictLabel->text().contains(QStringLiteral("Page Down")));
    EXPECT_FALSE(window->previousConflictLabel->isVisible());
    EXPECT_TRUE(customNote->isVisible());
    EXPECT_EQ(testing::spokenName(customNote), customNote->text());

    record(window->nextListenButton, kF5);
    EXPECT_FALSE(window->nextConflictLabel->isVisible());
    EXPECT_TRUE(customNote->isVisible());
    controller->setConflicts({});
    EXPECT_FALSE(customNote->isVisible());
}

// A line for each state but listening; the permission button only while access is missing.
TEST_F(ClickerDistributorWindowControllerTest, StatusLineFollowsStateAndPermission) {
    using Listener = ClickerInputListenerState;
    const struct {
        bool enabled, listenerRequired;
        Status permission;
        Listener listener;
    } rows[] = {
        {true, true, Status::notDetermined, Listener::stopped},
        {true, true, Status::denied, Listener::failed},
        {true, true, Status::granted, Listener::failed},
        {true, false, Status::granted, Listener::stopped},
        {true, true, Status::granted, Listener::listening},
        {false, false, Status::granted, Listener::stopped},
    };
    QStringList lines, buttons;
    for (const auto& row : rows) {
        permission->status = row.permission;
        controller->refreshPermissionState();
        controller->updateDistributorState({.enabled = row.enabled,
                                            .enabledGroupCount = 1,
                                            .listenerRequired = row.listenerRequired},
                                           true);
        controller->setListenerState(row.listener);
        controller->refreshRuntimeControls();
        EXPECT_EQ(window->masterStatusLabel->isHidden(), row.listener == Listener::listening);
        EXPECT_EQ(window->permissionButton->isHidden(), row.permission == Status::granted);
        EXPECT_EQ(permissions.back(), row.permission);
        lines << window->masterStatusLabel->text();
        // What a screen reader hears is what the labels show.
        EXPECT_EQ(testing::spokenName(window->masterStatusLabel), lines.back());
        EXPECT_EQ(testing::spokenName(window->masterValueLabel), window->masterValueLabel->text());
        buttons << (window->permissionButton->isHidden() ? QString()
                                                         : window->permissionButton->text());
    }
    EXPECT_EQ(lines[0], lines[1]) << "access missing, asked or not";
    EXPECT_EQ(lines.removeDuplicates(), 1);
    EXPECT_EQ(buttons.removeDuplicates(), 3) << "the two permission rows name different actions";
}

TEST_F(ClickerDistributorWindowControllerTest, FailedSaveIsToldAndShownAsTheStoreAnswers) {
    turnOn();
    failSaving = true;
    record(window->previousListenButton, kF5);
    EXPECT_TRUE(feedback().contains(QStringLiteral("could not save its settings")))
        << feedback().toStdString();
    EXPECT_TRUE(feedbackIn(ThemeColors::Role::red));
    EXPECT_EQ(window->previousField->text(), QString::fromStdString(stored.previous.displayName()))
        << "shows what is in effect";

    QTest::mouseClick(window->addCustomAssignmentButton, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(feedback().contains(QStringLiteral("could not save its settings")));
    EXPECT_EQ(window->findChildren<ClickerKeyRecorderField*>().size(),
              2 + stored.customAssignments.size());

    failSaving = false;
    record(window->nextListenButton, kF7);
    EXPECT_EQ(feedback(), kDefaultFeedback);
    EXPECT_EQ(stored, reportedConfigurations.back()) << "the next save catches up";
}

TEST_F(ClickerDistributorWindowControllerTest, Screenshots) {
    turnOn();
    controller->refreshPermissionState();
    const QString id = addTwoCustomRows().first;
    auto* popup = child<QComboBox>("customCommandPopup-" + id);
    popup->setCurrentIndex(4);
    emit popup->activated(4);
    recordCustom(id, {KEY_B, Qt::Key_B, Qt::NoModifier, QStringLiteral("b")});
    QTest::mouseClick(window->nextListenButton, Qt::LeftButton);
    testing::saveScreenshots(window, QStringLiteral("clicker-distributor"));
    QTest::mouseClick(window->informationButton, Qt::LeftButton);
    EXPECT_TRUE(window->isInformationShown());
    const auto labels = window->findChildren<QLabel*>();
    EXPECT_TRUE(std::ranges::any_of(labels, [](QLabel* label) {
        return label->text().startsWith(QStringLiteral("Choose a Kelvra action, then record"));
    }));
}

}  // namespace
}  // namespace kelvra
