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
const ClickerKeyDown kControlA{0, ClickerModifierFlags::control, "a"};
const std::string kDefaultFeedback =
    "Each Previous slide, Next slide, or custom assignment must use a different keystroke.";

class ClickerDistributorModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        model = std::make_unique<ClickerDistributorModel>(
            permission, stored, executor,
            ClickerDistributorModel::Effects{
                .switchDistribution =
                    [this](bool requested, auto completion) {
                        switchRequests.push_back(requested);
                        switchCompletion = std::move(completion);
                    },
                // The owner stores what it is given, or keeps what it had and says why.
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
                .permissionChanged = {},
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
        {ClickerMappingAction::next, true, kControlA, "⌃A"},
        {ClickerMappingAction::previous, true, kF5, "F5"},
        {ClickerMappingAction::next, false, kPageDown, "Page Down"},
    };
    turnOn();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shown);
        recordings.clear();
        row.listen ? model->listen(row.action) : model->beginRecording(row.action);
        const ClickerAssignmentRowState& shown =
            row.action == ClickerMappingAction::previous ? published.previous : published.next;
        EXPECT_EQ(shown.keyText, row.listen ? "Listening…" : "Press a key…");

        EXPECT_TRUE(model->keyDown(row.key));

        EXPECT_FALSE(published.capture.has_value());
        EXPECT_EQ(shown.keyText, row.shown);
        EXPECT_EQ(recordings, (std::vector<bool>{true, false}));
    }
    EXPECT_FALSE(model->keyDown(kF5)) << "no capture: the window's controls get the key";

    // A keystroke another assignment has is refused and nothing is stored.
    const size_t committed = commits.size();
    record(ClickerMappingAction::previous, kPageDown);
    EXPECT_TRUE(published.feedback.starts_with("Page Down is already assigned to Next slide"));
    EXPECT_EQ(published.feedbackTone, ClickerTextTone::red);
    EXPECT_EQ(published.previous.keyText, "F5");
    EXPECT_EQ(commits.size(), committed);

    // A keystroke another program holds is told under its assignment.
    model->setConflicts({{ClickerKeyCode::pageDown, 0, {}}});
    EXPECT_TRUE(published.next.conflict.starts_with("Another program already uses Page Down"));
    EXPECT_TRUE(published.previous.conflict.empty());
}

TEST_F(ClickerDistributorModelTest, EscapeListenAgainLosingActivationOrTurningOffCancels) {
    const ClickerMappingTarget previous = ClickerMappingAction::previous;
    const std::function<void()> cancels[] = {
        [&] { model->keyDown(kEscape); },
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
        EXPECT_EQ(published.feedback, kDefaultFeedback);
    }
    EXPECT_TRUE(commits.empty());

    // A field losing the focus ends only its own direct capture.
    model->beginRecording(previous);
    model->endRecording(ClickerMappingAction::next);
    EXPECT_TRUE(published.capture.has_value());
    model->endRecording(previous);
    EXPECT_FALSE(published.capture.has_value());
}

// Custom rows are stored as added, assigned and deleted; a reset unassigns only the custom keys
// that the defaults take.
TEST_F(ClickerDistributorModelTest, CustomRowsAreAddedAssignedDeletedAndReset) {
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
    EXPECT_EQ(published.custom.at(0).keyText, "F7");

    record(ClickerMappingAction::previous, kF5);
    record(first, kPageUp);
    model->addCustomAssignment();
    record(stored.customAssignments[1].id(), kF7);
    model->resetToDefaults();
    EXPECT_EQ(published.feedback, "Defaults restored. Conflicting custom keys were unassigned.");
    EXPECT_EQ(stored.previous.keyCode, ClickerKeyCode::pageUp);
    EXPECT_FALSE(stored.customAssignments[0].keystroke.has_value());
    EXPECT_EQ(published.custom.at(1).keyText, "F7");
}

TEST_F(ClickerDistributorModelTest, InputTestEndsAfterTenSecondsOnDetectionOrEscape) {
    turnOn();
    model->toggleTest();
    // Assigned keys are kept from the window's controls, other keys are not.
    EXPECT_TRUE(model->keyDown(kPageDown));
    EXPECT_FALSE(model->keyDown(kF5));
    executor.advance(9900ms);
    EXPECT_FALSE(published.editable);
    executor.advance(100ms);
    EXPECT_TRUE(published.editable);

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
    EXPECT_EQ(published.feedbackTone, ClickerTextTone::secondary);
    EXPECT_FALSE(published.testUsable);
    EXPECT_EQ(testDemands, (std::vector<bool>{true, false, true, false, true, false, true, false}));
}

TEST_F(ClickerDistributorModelTest, SwitchWaitsForTheBackendAndRevertsOnFailure) {
    permission->status = Status::notDetermined;
    model->refreshPermissionState();
    model->updateDistributorState({}, true);
    model->switchDistribution(true);
    ASSERT_EQ(switchRequests, std::vector<bool>{true});
    EXPECT_FALSE(published.switchUsable) << "pending";
    EXPECT_TRUE(published.switchOn);

    switchCompletion(
        std::unexpected(BackendSupervisorError(BackendSupervisorError::Kind::backendUnavailable)));
    EXPECT_FALSE(published.switchOn);
    EXPECT_TRUE(published.switchUsable);
    EXPECT_EQ(published.feedback, "Could not update Clicker Distributor. Try again.");

    // Turned on without keyboard access: access is asked for, over the window.
    model->switchDistribution(true);
    switchCompletion(true);
    EXPECT_EQ(published.switchValue, "On");
    EXPECT_TRUE(published.assignmentsShown);
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
        lines.insert(published.status);
        actions.insert(published.accessAction);
    }
    EXPECT_EQ(lines.size(), 5u) << "access missing, asked or not, reads alike";
    EXPECT_EQ(actions.size(), 3u) << "the two permission rows name different actions";
}

TEST_F(ClickerDistributorModelTest, FailedSaveIsToldAndShownAsTheStoreAnswers) {
    turnOn();
    failSaving = true;
    record(ClickerMappingAction::previous, kF5);
    EXPECT_TRUE(published.feedback.starts_with(
        "Kelvra Hub could not save its settings: the disk is full. Kelvra Hub uses the change"));
    EXPECT_EQ(published.feedbackTone, ClickerTextTone::red);
    EXPECT_EQ(published.previous.keyText, stored.previous.displayName()) << "what is in effect";

    failSaving = false;
    record(ClickerMappingAction::next, kF7);
    EXPECT_EQ(published.feedback, kDefaultFeedback) << "the next save catches up";
}

}  // namespace
}  // namespace kelvra
