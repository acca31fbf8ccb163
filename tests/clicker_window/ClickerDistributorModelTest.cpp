// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <set>

#include "clicker/FakePermissionProvider.h"
#include "clicker_window/ClickerDistributorModel.h"
#include "support/ManualMainThreadExecutor.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;
using Status = AccessibilityAuthorizationStatus;
using State = ClickerDistributorWindowState;

const ClickerKeyDown kPageUp{ClickerKeyCode::pageUp, 0, {}};
const ClickerKeyDown kPageDown{ClickerKeyCode::pageDown, 0, {}};
const ClickerKeyDown kF5{96, 0, {}};
const ClickerKeyDown kF7{98, 0, {}};
const ClickerKeyDown kEscape{ClickerKeyCode::escape, 0, {}};
const ClickerKeyDown kShiftUp{126, ClickerModifierFlags::shift, {}};
const ClickerKeyDown kControlA{0, ClickerModifierFlags::control, "a"};
const std::string kDefaultFeedback =
    "Each Previous slide, Next slide, or custom assignment must use a different keystroke.";

class ClickerDistributorModelTest : public ::testing::Test {
protected:
    void SetUp() override { makeModel(); }

    void makeModel() {
        model.reset();
        model = std::make_unique<ClickerDistributorModel>(
            permission, stored, executor,
            ClickerDistributorModel::Effects{
                .switchDistribution =
                    [this](bool requested, auto completion) {
                        switchRequests.push_back(requested);
                        switchCompletion = std::move(completion);
                    },
                // The owner's side: it stores what it is given, or keeps what it had and says
                // why.
                .commitConfiguration = [this](const ClickerInputConfiguration& configuration)
                    -> ClickerDistributorModel::Committed {
                    commits.push_back(configuration);
                    if (failSaving) {
                        return {stored,
                                "Kelvra Hub could not save its settings: the disk is full."};
                    }
                    stored = configuration;
                    return {stored, std::nullopt};
                },
                .testDemandChanged = [this](bool demand) { testDemands.push_back(demand); },
                .recordingChanged = [this](bool recording) { recordings.push_back(recording); },
                .permissionChanged = [this](Status status) { permissions.push_back(status); },
                .bringToFront = [this] { ++broughtToFront; },
            });
        model->observe([this](const State& state) { published = state; });
        model->present();
    }

    /// Distribution on, a group receiving clicks, the backend running.
    void turnOn() {
        model->updateDistributorState(
            {.enabled = true, .enabledGroupCount = 1, .listenerRequired = true}, true);
    }

    void record(const ClickerMappingTarget& target, const ClickerKeyDown& key) {
        model->listen(target);
        EXPECT_TRUE(model->keyDown(key));
    }

    bool failSaving = false;
    /// What the owner holds: what the model starts from, and every commit that was saved.
    ClickerInputConfiguration stored = ClickerInputConfiguration::defaults();
    std::shared_ptr<testing::FakePermissionProvider> permission =
        std::make_shared<testing::FakePermissionProvider>();
    ManualMainThreadExecutor executor;
    std::vector<bool> switchRequests;
    ClickerDistributorModel::SwitchCompletion switchCompletion;
    std::vector<ClickerInputConfiguration> commits;
    std::vector<bool> testDemands;
    std::vector<bool> recordings;
    std::vector<Status> permissions;
    int broughtToFront = 0;
    std::unique_ptr<ClickerDistributorModel> model;
    State published;
};

TEST_F(ClickerDistributorModelTest, RecordsTheKeyPressedAndStoresIt) {
    const struct {
        ClickerMappingAction action;
        bool listen;  ///< started with the Listen button instead of the field
        const ClickerKeyDown& key;
        std::string shown;
    } rows[] = {
        {ClickerMappingAction::next, false, kPageDown, "Page Down"},
        {ClickerMappingAction::previous, true, kF5, "F5"},
        {ClickerMappingAction::next, false, kShiftUp, "⇧Up Arrow"},
        {ClickerMappingAction::next, true, kControlA, "⌃A"},
    };
    turnOn();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shown);
        recordings.clear();
        row.listen ? model->listen(row.action) : model->beginRecording(row.action);
        const ClickerAssignmentRowState& shown =
            row.action == ClickerMappingAction::previous ? published.previous : published.next;
        EXPECT_EQ(shown.keyText, row.listen ? "Listening…" : "Press a key…");
        EXPECT_EQ(shown.listening, row.listen);
        EXPECT_TRUE(published.feedback.ends_with("Press Escape to cancel."));

        EXPECT_TRUE(model->keyDown({56, ClickerModifierFlags::shift, {}})) << "alone: waits";
        EXPECT_TRUE(published.capture.has_value());
        EXPECT_TRUE(model->keyDown(row.key));

        EXPECT_FALSE(published.capture.has_value());
        EXPECT_EQ(shown.keyText, row.shown);
        EXPECT_EQ(published.feedback, kDefaultFeedback);
        EXPECT_EQ(recordings, (std::vector<bool>{true, false}));
        const ClickerKeystroke& recorded =
            row.action == ClickerMappingAction::previous ? stored.previous : stored.next;
        EXPECT_EQ(recorded.displayName(), row.shown);
    }
    EXPECT_FALSE(model->keyDown(kF5)) << "no capture: the window's controls get the key";
}

TEST_F(ClickerDistributorModelTest, EscapeListenAgainLosingActivationOrTurningOffCancels) {
    const ClickerMappingTarget previous = ClickerMappingAction::previous;
    const std::function<void()> cancels[] = {
        [&] { model->keyDown(kEscape); },
        [&] {
            model->keyDown({ClickerKeyCode::escape, ClickerModifierFlags::shift, {}});
        },
        [&] { model->listen(previous); },
        [&] { model->dismissCapture(); },
        [&] { model->close(); },
        [&] { model->updateDistributorState({}, true); },
    };
    for (const auto& cancel : cancels) {
        turnOn();
        model->listen(previous);
        ASSERT_TRUE(published.capture.has_value());
        cancel();
        EXPECT_FALSE(published.capture.has_value());
        EXPECT_EQ(published.previous.keyText, "Page Up");
        EXPECT_FALSE(published.previous.listening);
        EXPECT_EQ(published.feedback, kDefaultFeedback);
    }
    EXPECT_TRUE(commits.empty());
    EXPECT_EQ(recordings.size(), 12u);

    // A field losing the focus ends only its own direct capture.
    model->beginRecording(previous);
    model->endRecording(ClickerMappingAction::next);
    EXPECT_TRUE(published.capture.has_value());
    model->endRecording(previous);
    EXPECT_FALSE(published.capture.has_value());
}

TEST_F(ClickerDistributorModelTest, ConflictIsToldAndNothingIsStored) {
    turnOn();
    record(ClickerMappingAction::next, kF5);
    const size_t committed = commits.size();
    model->beginRecording(ClickerMappingAction::previous);
    model->keyDown(kF5);

    EXPECT_TRUE(published.feedback.starts_with("F5 is already assigned to Next slide"));
    EXPECT_EQ(published.feedbackTone, ClickerTextTone::red);
    EXPECT_EQ(published.previous.keyText, "Page Up");
    EXPECT_EQ(commits.size(), committed);
    EXPECT_FALSE(published.capture.has_value());
}

TEST_F(ClickerDistributorModelTest, CustomRowsAreAddedAssignedDeletedAndReadBack) {
    turnOn();
    model->addCustomAssignment();
    model->addCustomAssignment();  // rows are stored when added
    ASSERT_EQ(stored.customAssignments.size(), 2u);
    const Uuid first = stored.customAssignments[0].id(), second = stored.customAssignments[1].id();

    // Both rows are empty: the conflict names each "the custom assignment".
    record(first, kF7);
    record(second, kF7);
    EXPECT_EQ(published.feedback,
              "F7 is already assigned to the custom assignment. Choose a different keystroke for "
              "the custom assignment.");
    model->chooseAction(first, ClickerCustomAction::blackout);
    model->deleteCustomAssignment(second);

    ASSERT_EQ(stored.customAssignments.size(), 1u);
    EXPECT_EQ(stored.customAssignments[0].action, ClickerCustomAction::blackout);
    EXPECT_EQ(stored.customAssignments[0].keystroke->keyCode, 98);

    makeModel();  // a restart shows what was stored
    ASSERT_EQ(published.custom.size(), 1u);
    EXPECT_EQ(published.custom[0].action, ClickerCustomAction::blackout);
    EXPECT_EQ(published.custom[0].keyText, "F7");
    model->deleteCustomAssignment(first);
    EXPECT_TRUE(stored.customAssignments.empty());
    EXPECT_TRUE(published.custom.empty());
}

TEST_F(ClickerDistributorModelTest, ResetUnassignsOnlyConflictingCustomKeys) {
    turnOn();
    record(ClickerMappingAction::previous, kF7);
    model->addCustomAssignment();
    model->addCustomAssignment();
    record(stored.customAssignments[0].id(), kPageUp);
    record(stored.customAssignments[1].id(), kF5);

    model->resetToDefaults();

    EXPECT_EQ(published.feedback, "Defaults restored. Conflicting custom keys were unassigned.");
    EXPECT_EQ(stored.previous.keyCode, ClickerKeyCode::pageUp);
    EXPECT_EQ(stored.next.keyCode, ClickerKeyCode::pageDown);
    EXPECT_FALSE(stored.customAssignments[0].keystroke.has_value());
    EXPECT_EQ(stored.customAssignments[1].keystroke->keyCode, 96);
    EXPECT_EQ(published.custom[0].keyText, "Not assigned");
}

TEST_F(ClickerDistributorModelTest, InputTestEndsAfterTenSecondsOnDetectionOrEscape) {
    turnOn();
    model->toggleTest();
    EXPECT_EQ(published.testTitle, "Cancel Test");
    EXPECT_FALSE(published.editable);
    EXPECT_FALSE(published.switchUsable);
    model->listen(ClickerMappingAction::previous);
    EXPECT_FALSE(published.capture.has_value()) << "no capture during a test";

    // Assigned keys are kept from the window's controls, other keys are not.
    EXPECT_TRUE(model->keyDown(kPageDown));
    EXPECT_FALSE(model->keyDown(kF5));
    executor.advance(9900ms);
    EXPECT_FALSE(published.editable);
    executor.advance(100ms);
    EXPECT_TRUE(published.editable);
    EXPECT_EQ(published.feedbackTone, ClickerTextTone::red);

    model->toggleTest();
    model->detectedAssignedInput(ClickerDirection::right);
    const std::string detected = published.feedback;
    EXPECT_EQ(detected, "Detected Next slide — Page Down. Assigned-key control is working.");
    EXPECT_EQ(published.feedbackTone, ClickerTextTone::green);
    executor.advance(20s);
    EXPECT_EQ(published.feedback, detected) << "the cancelled timeout must not fire";

    model->toggleTest();
    EXPECT_TRUE(model->keyDown(kEscape));
    EXPECT_TRUE(published.editable);

    // A backend restart ends it too, and no test starts until the next backend is there.
    model->toggleTest();
    model->backendRestarting();
    EXPECT_TRUE(published.editable);
    EXPECT_EQ(published.feedbackTone, ClickerTextTone::secondary);
    EXPECT_FALSE(published.testUsable);
    EXPECT_EQ(testDemands, (std::vector<bool>{true, false, true, false, true, false, true, false}));
}

TEST_F(ClickerDistributorModelTest, SwitchWaitsForTheBackendAndRevertsOnFailure) {
    permission->status = Status::notDetermined;
    model->refreshPermissionState();
    model->updateDistributorState({}, true);
    EXPECT_FALSE(published.assignmentsShown);
    model->switchDistribution(true);
    ASSERT_EQ(switchRequests, std::vector<bool>{true});
    EXPECT_FALSE(published.switchUsable) << "pending";
    EXPECT_TRUE(published.switchOn);

    switchCompletion(
        std::unexpected(BackendSupervisorError(BackendSupervisorError::Kind::backendUnavailable)));
    EXPECT_FALSE(published.switchOn);
    EXPECT_TRUE(published.switchUsable);
    EXPECT_EQ(published.switchValue, "Off");
    EXPECT_EQ(published.feedback, "Could not update Clicker Distributor. Try again.");
    EXPECT_EQ(broughtToFront, 0);

    // Turned on without keyboard access: access is asked for, over the window.
    model->switchDistribution(true);
    switchCompletion(true);
    EXPECT_TRUE(published.switchOn);
    EXPECT_EQ(published.switchValue, "On");
    EXPECT_TRUE(published.assignmentsShown);
    EXPECT_EQ(switchRequests, (std::vector<bool>{true, true}));
    EXPECT_EQ(broughtToFront, 1);

    // A backend restart leaves no request pending: the switch shows the state and waits for
    // the next backend, whose state frees it.
    model->switchDistribution(false);
    model->backendRestarting();
    EXPECT_TRUE(published.switchOn);
    EXPECT_FALSE(published.switchUsable);
    turnOn();
    EXPECT_TRUE(published.switchUsable);
}

// Keystrokes another program holds: a note under each such assignment, gone once the
// assignment changes or the program lets go.
TEST_F(ClickerDistributorModelTest, ConflictsAreShownUnderTheKeystrokeAnotherHolds) {
    turnOn();
    model->addCustomAssignment();
    const Uuid custom = stored.customAssignments[0].id();
    record(custom, kF7);

    model->setConflicts({{ClickerKeyCode::pageDown, 0, {}}, {98, 0, {}}});
    EXPECT_TRUE(published.next.conflict.starts_with("Another program already uses Page Down"));
    EXPECT_TRUE(published.previous.conflict.empty());
    EXPECT_FALSE(published.custom[0].conflict.empty());

    record(ClickerMappingAction::next, kF5);
    EXPECT_TRUE(published.next.conflict.empty());
    EXPECT_FALSE(published.custom[0].conflict.empty());
    model->setConflicts({});
    EXPECT_TRUE(published.custom[0].conflict.empty());
}

// A line for each state but listening; the access action only while access is missing.
TEST_F(ClickerDistributorModelTest, StatusLineFollowsStateAndPermission) {
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
    std::set<std::string> lines, actions;
    for (const auto& row : rows) {
        permission->status = row.permission;
        model->refreshPermissionState();
        model->updateDistributorState({.enabled = row.enabled,
                                       .enabledGroupCount = 1,
                                       .listenerRequired = row.listenerRequired},
                                      true);
        model->setListenerState(row.listener);
        EXPECT_EQ(published.status.empty(), row.listener == Listener::listening);
        EXPECT_EQ(published.accessAction.empty(), row.permission == Status::granted);
        EXPECT_EQ(permissions.back(), row.permission);
        lines.insert(published.status);
        actions.insert(published.accessAction);
    }
    EXPECT_EQ(lines.size(), 5u) << "access missing, asked or not, reads alike";
    EXPECT_EQ(actions.size(), 3u) << "the two permission rows name different actions";
}

// Asking for access: a first request goes to the system, a refused one opens the help.
TEST_F(ClickerDistributorModelTest, AccessRequestAnswersWithTheNewState) {
    permission->status = Status::notDetermined;
    model->refreshPermissionState();
    turnOn();
    model->requestAccess();
    EXPECT_EQ(broughtToFront, 1);
    EXPECT_EQ(published.accessAction, "Request Keyboard Access");
    permission->status = Status::granted;
    model->requestAccess();
    EXPECT_TRUE(published.accessAction.empty());
    EXPECT_TRUE(published.testUsable);
    EXPECT_EQ(permissions.back(), Status::granted);
}

TEST_F(ClickerDistributorModelTest, FailedSaveIsToldAndShownAsTheStoreAnswers) {
    turnOn();
    failSaving = true;
    record(ClickerMappingAction::previous, kF5);
    EXPECT_TRUE(published.feedback.starts_with(
        "Kelvra Hub could not save its settings: the disk is full. Kelvra Hub uses the change"));
    EXPECT_EQ(published.feedbackTone, ClickerTextTone::red);
    EXPECT_EQ(published.previous.keyText, stored.previous.displayName()) << "what is in effect";

    model->addCustomAssignment();
    EXPECT_TRUE(published.custom.empty());

    failSaving = false;
    record(ClickerMappingAction::next, kF7);
    EXPECT_EQ(published.feedback, kDefaultFeedback);
    EXPECT_EQ(stored, commits.back()) << "the next save catches up";
}

}  // namespace
}  // namespace kelvra
