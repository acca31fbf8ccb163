// SPDX-License-Identifier: MIT
#include "clicker_window/ClickerDistributorModel.h"

#include <algorithm>

#include "clicker/ClickerKeystrokeInterpreter.h"
#include "clicker_window/ClickerAssignmentEditing.h"
#include "core/UnsavedChangeText.h"

namespace kelvra {
namespace {

constexpr std::string_view kDefaultFeedback =
    "Each Previous slide, Next slide, or custom assignment must use a different keystroke.";

struct StatusLine {
    std::string text;
    ClickerTextTone tone = ClickerTextTone::secondary;
    std::string accessAction;
};

/// The first that applies: access missing, listener failed, ready but no group receives
/// clicks, working (nothing to say), off.
StatusLine statusLine(const ClickerDistributorState& state,
                      AccessibilityAuthorizationStatus permission,
                      ClickerInputListenerState listener, bool testing) {
    if (!state.enabled) {
        return {
            "Off — Kelvra Hub is not monitoring keyboard input.", ClickerTextTone::secondary, {}};
    }
    if (permission != AccessibilityAuthorizationStatus::granted) {
        return {
            "Keyboard Access required — Kelvra Hub cannot reserve assigned clicker "
            "keystrokes.",
            ClickerTextTone::orange,
            permission == AccessibilityAuthorizationStatus::denied ? "Show Keyboard Access Help"
                                                                   : "Request Keyboard Access"};
    }
    if (listener == ClickerInputListenerState::failed) {
        return {
            "Listener error — Kelvra Hub could not reserve assigned keystrokes. Check "
            "Keyboard Access, then restart Kelvra Hub.",
            ClickerTextTone::red,
            {}};
    }
    if (!state.listenerRequired && !testing) {
        return {
            "Ready — Keyboard Access is enabled. No Presentation group currently receives "
            "clicks.",
            ClickerTextTone::secondary,
            {}};
    }
    return {};
}

}  // namespace

ClickerDistributorModel::ClickerDistributorModel(
    std::shared_ptr<AccessibilityPermissionProviding> permissionProvider,
    ClickerInputConfiguration configuration, MainThreadExecutor& executor, Effects effects)
    : permissionProvider_(std::move(permissionProvider)),
      executor_(executor),
      effects_(std::move(effects)),
      edited_(std::move(configuration)) {
    state_ = render();
}

ClickerDistributorModel::~ClickerDistributorModel() {
    if (testTimeout_) {
        testTimeout_->cancel();
    }
}

void ClickerDistributorModel::observe(
    std::function<void(const ClickerDistributorWindowState&)> observer) {
    observer_ = std::move(observer);
    if (observer_) {
        observer_(state_);
    }
}

void ClickerDistributorModel::publish() {
    state_ = render();
    if (observer_) {
        observer_(state_);
    }
}

std::string ClickerDistributorModel::description(const ClickerMappingTarget& target) const {
    return ClickerAssignmentEditing::description(edited_, target);
}

ClickerAssignmentRowState ClickerDistributorModel::row(const ClickerMappingTarget& target) const {
    ClickerAssignmentRowState row{.target = target, .action = {}, .keyText = {}, .conflict = {}};
    if (const auto* id = std::get_if<Uuid>(&target)) {
        row.action = ClickerAssignmentEditing::row(edited_, *id)->action;
    }
    const auto keystroke = ClickerAssignmentEditing::keystroke(edited_, target);
    if (capture_ && capture_->action == target) {
        row.listening = capture_->mode == ClickerKeyCaptureMode::listening;
        row.keyText = row.listening ? "Listening…" : "Press a key…";
    } else {
        row.keyText = keystroke ? keystroke->displayName() : "Not assigned";
    }
    if (keystroke && std::ranges::find(conflicts_, *keystroke) != conflicts_.end()) {
        row.conflict = "Another program already uses " + keystroke->displayName() +
                       ", so Kelvra Hub cannot reserve it. Record a different keystroke, or quit "
                       "that program and turn Clicker Distributor off and on.";
    }
    return row;
}

ClickerDistributorWindowState ClickerDistributorModel::render() const {
    ClickerDistributorWindowState state;
    const bool enabled = distributorState_.enabled;
    state.switchOn = requestedSwitch_.value_or(enabled);
    state.switchUsable = backendAvailable_ && !requestedSwitch_ && !testing_;
    state.switchValue = enabled ? "On" : "Off";
    StatusLine status = statusLine(distributorState_, permissionStatus_, listenerState_, testing_);
    state.status = std::move(status.text);
    state.statusTone = status.tone;
    state.accessAction = std::move(status.accessAction);
    state.assignmentsShown = enabled;
    state.previous = row(ClickerMappingAction::previous);
    state.next = row(ClickerMappingAction::next);
    for (const CustomClickerAssignment& custom : edited_.customAssignments) {
        state.custom.push_back(row(custom.id()));
    }
    state.editable = !testing_;
    state.capture = capture_;
    if (!message_.empty()) {
        state.feedback = state.feedbackToolTip = message_;
        state.feedbackTone = messageTone_;
    } else if (capture_) {
        state.feedback =
            std::string(capture_->mode == ClickerKeyCaptureMode::listening ? "Listening…"
                                                                           : "Recording…") +
            " Press a keyboard key or clicker button for " + description(capture_->action) +
            ". Press Escape to cancel.";
        state.feedbackToolTip = state.feedback;
    } else {
        state.feedback = kDefaultFeedback;
    }
    state.testTitle = testing_ ? "Cancel Test" : "Test Assigned Keys";
    state.testUsable = enabled && permissionStatus_ == AccessibilityAuthorizationStatus::granted &&
                       backendAvailable_;
    return state;
}

void ClickerDistributorModel::setCapture(std::optional<ClickerKeyCapture> capture) {
    const bool wasRecording = capture_.has_value();
    capture_ = std::move(capture);
    if (wasRecording != capture_.has_value() && effects_.recordingChanged) {
        effects_.recordingChanged(capture_.has_value());
    }
}

void ClickerDistributorModel::clearCaptureAndMessage() {
    setCapture(std::nullopt);
    message_.clear();
}

void ClickerDistributorModel::setMessage(std::string message, ClickerTextTone tone) {
    message_ = std::move(message);
    messageTone_ = tone;
}

void ClickerDistributorModel::present() {
    setCapture(std::nullopt);
    refreshPermissionState();
}

void ClickerDistributorModel::beginRecording(const ClickerMappingTarget& target) {
    if (testing_) {
        return;
    }
    message_.clear();
    setCapture(ClickerKeyCapture{target, ClickerKeyCaptureMode::direct});
    publish();
}

void ClickerDistributorModel::endRecording(const ClickerMappingTarget& target) {
    if (capture_ != ClickerKeyCapture{target, ClickerKeyCaptureMode::direct}) {
        return;
    }
    setCapture(std::nullopt);
    publish();
}

void ClickerDistributorModel::listen(const ClickerMappingTarget& target) {
    const ClickerKeyCapture listening{target, ClickerKeyCaptureMode::listening};
    if (capture_ == listening) {
        clearCaptureAndMessage();
    } else if (!testing_) {
        message_.clear();
        setCapture(listening);
    }
    publish();
}

bool ClickerDistributorModel::keyDown(const ClickerKeyDown& keyDown) {
    if (testing_) {
        if (keyDown.keyCode == ClickerKeyCode::escape) {
            endTest();
            return true;
        }
        const ClickerKeystroke pressed{
            keyDown.keyCode, keyDown.modifierFlags & ClickerModifierFlags::recordable, {}};
        return pressed == edited_.previous || pressed == edited_.next;
    }
    if (!capture_) {
        return false;
    }
    const ClickerKeystrokeInterpretation interpretation = ClickerKeystrokeInterpreter::interpret(
        keyDown.keyCode, keyDown.modifierFlags, keyDown.charactersIgnoringModifiers);
    switch (interpretation.kind) {
        case ClickerKeystrokeInterpretation::Kind::cancel:
            clearCaptureAndMessage();
            publish();
            break;
        case ClickerKeystrokeInterpretation::Kind::ignored:
            break;
        case ClickerKeystrokeInterpretation::Kind::keystroke:
            // A copy: recording clears the capture.
            record(ClickerMappingTarget(capture_->action), *interpretation.keystroke);
            break;
    }
    return true;
}

void ClickerDistributorModel::record(const ClickerMappingTarget& target,
                                     const ClickerKeystroke& recorded) {
    const auto conflict = ClickerAssignmentEditing::conflictingTarget(edited_, target, recorded);
    clearCaptureAndMessage();
    if (!conflict) {
        if (ClickerAssignmentEditing::setKeystroke(edited_, target, recorded)) {
            commit();
        }
    } else {
        setMessage(recorded.displayName() + " is already assigned to " + description(*conflict) +
                   ". Choose a different keystroke for " + description(target) + ".");
    }
    publish();
}

void ClickerDistributorModel::commit() {
    if (!edited_.isValid()) {
        return;
    }
    Committed committed = effects_.commitConfiguration(edited_);
    if (committed.notSavedReason) {
        // Not saved: show what is in effect, so the window never claims more than the listener
        // uses, and say when it will be saved.
        edited_ = std::move(committed.configuration);
        setMessage(unsavedChangeMessage(*committed.notSavedReason));
    }
}

void ClickerDistributorModel::addCustomAssignment() {
    clearCaptureAndMessage();
    edited_.customAssignments.emplace_back();
    commit();
    publish();
}

void ClickerDistributorModel::deleteCustomAssignment(const Uuid& id) {
    if (!ClickerAssignmentEditing::row(edited_, id)) {
        return;
    }
    clearCaptureAndMessage();
    std::erase_if(edited_.customAssignments,
                  [&](const CustomClickerAssignment& row) { return row.id() == id; });
    commit();
    publish();
}

void ClickerDistributorModel::chooseAction(const Uuid& id,
                                           std::optional<ClickerCustomAction> action) {
    CustomClickerAssignment* row = ClickerAssignmentEditing::row(edited_, id);
    if (!row) {
        return;
    }
    clearCaptureAndMessage();
    row->action = action;
    commit();
    publish();
}

void ClickerDistributorModel::resetToDefaults() {
    const bool unassigned = ClickerAssignmentEditing::resetToDefaults(edited_);
    clearCaptureAndMessage();
    if (unassigned) {
        setMessage("Defaults restored. Conflicting custom keys were unassigned.");
    }
    commit();
    publish();
}

void ClickerDistributorModel::dismissCapture() {
    setCapture(std::nullopt);
    publish();
}

void ClickerDistributorModel::close() {
    setCapture(std::nullopt);
    endTest();
}

void ClickerDistributorModel::toggleTest() {
    if (testing_) {
        endTest();
        return;
    }
    if (!distributorState_.enabled ||
        permissionStatus_ != AccessibilityAuthorizationStatus::granted) {
        return;
    }
    clearCaptureAndMessage();
    testing_ = true;
    setMessage(
        "Press the assigned Previous slide or Next slide button. Test clicks are not sent to "
        "Presentation groups.");
    if (effects_.testDemandChanged) {
        effects_.testDemandChanged(true);
    }
    std::weak_ptr<bool> alive = alive_;
    testTimeout_ = executor_.postDelayed(testTimeout, [this, alive] {
        if (!alive.expired()) {
            endTest(
                "No assigned input was detected. Check the clicker, assignment, and Keyboard "
                "Access permission.");
        }
    });
    publish();
}

void ClickerDistributorModel::endTest(std::optional<std::string> message, ClickerTextTone tone) {
    if (testTimeout_) {
        testTimeout_->cancel();
        testTimeout_.reset();
    }
    const bool wasTesting = testing_;
    testing_ = false;
    if (wasTesting && effects_.testDemandChanged) {
        effects_.testDemandChanged(false);
    }
    if (message) {
        setMessage(std::move(*message), tone);
    }
    publish();
}

void ClickerDistributorModel::switchDistribution(bool requested) {
    const bool previouslyEnabled = distributorState_.enabled;
    requestedSwitch_ = requested;
    publish();
    if (!effects_.switchDistribution) {
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    effects_.switchDistribution(requested, [this, alive, previouslyEnabled](
                                               std::expected<bool, BackendSupervisorError> result) {
        if (alive.expired()) {
            return;
        }
        requestedSwitch_.reset();
        if (!result) {
            distributorState_.enabled = previouslyEnabled;
            setMessage("Could not update Clicker Distributor. Try again.");
            publish();
            return;
        }
        const bool enabled = *result;
        distributorState_.enabled = enabled;
        distributorState_.listenerRequired = enabled && distributorState_.enabledGroupCount > 0;
        if (!enabled) {
            endTest();
        } else if (!previouslyEnabled &&
                   permissionStatus_ != AccessibilityAuthorizationStatus::granted) {
            requestAccess();
        }
        publish();
    });
}

void ClickerDistributorModel::requestAccess() {
    if (effects_.bringToFront) {
        effects_.bringToFront();
    }
    switch (permissionStatus_) {
        case AccessibilityAuthorizationStatus::granted:
            break;
        case AccessibilityAuthorizationStatus::denied:
            permissionProvider_->openSystemSettings();
            break;
        case AccessibilityAuthorizationStatus::notDetermined: {
            std::weak_ptr<bool> alive = alive_;
            permissionProvider_->requestAccess([this, alive](bool trusted) {
                if (alive.expired()) {
                    return;
                }
                if (!trusted) {
                    permissionProvider_->openSystemSettings();
                }
                refreshPermissionState();
            });
            return;
        }
    }
    refreshPermissionState();
}

void ClickerDistributorModel::updateDistributorState(const ClickerDistributorState& state,
                                                     bool backendAvailable) {
    distributorState_ = state;
    backendAvailable_ = backendAvailable;
    if (!state.enabled) {
        setCapture(std::nullopt);
        endTest();
    }
    publish();
}

void ClickerDistributorModel::setListenerState(ClickerInputListenerState state) {
    listenerState_ = state;
    publish();
}

void ClickerDistributorModel::setConflicts(std::vector<ClickerKeystroke> keystrokes) {
    conflicts_ = std::move(keystrokes);
    publish();
}

void ClickerDistributorModel::backendRestarting() {
    backendAvailable_ = false;
    requestedSwitch_.reset();
    if (testing_) {
        endTest();
        messageTone_ = ClickerTextTone::secondary;
    }
    publish();
}

void ClickerDistributorModel::detectedAssignedInput(ClickerDirection direction) {
    if (!testing_) {
        return;
    }
    const ClickerMappingAction action = direction == ClickerDirection::left
                                            ? ClickerMappingAction::previous
                                            : ClickerMappingAction::next;
    const ClickerKeystroke& detected =
        action == ClickerMappingAction::previous ? edited_.previous : edited_.next;
    endTest("Detected " + description(action) + " — " + detected.displayName() +
                ". Assigned-key control is working.",
            ClickerTextTone::green);
}

void ClickerDistributorModel::refreshPermissionState() {
    const AccessibilityAuthorizationStatus status = permissionProvider_->authorizationStatus();
    if (status != permissionStatus_) {
        permissionStatus_ = status;
        endTest();
    }
    if (effects_.permissionChanged) {
        effects_.permissionChanged(status);
    }
    publish();
}

}  // namespace kelvra
