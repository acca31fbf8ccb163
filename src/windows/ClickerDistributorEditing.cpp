// SPDX-License-Identifier: MIT
// The editing half of the Clicker Distributor window's controller: capturing keystrokes, the
// custom rows, the reset, and committing each change to the store.
#include <algorithm>

#include <QComboBox>
#include <QPushButton>
#include <QToolButton>

#include "clicker/ClickerKeystrokeInterpreter.h"
#include "windows/ClickerAssignmentEditing.h"
#include "windows/ClickerDistributorWindowController.h"
#include "windows/UnsavedChangeText.h"
#include "windows/widgets/ClickerKeyRecorderField.h"

namespace kelvra {

void ClickerDistributorWindowController::buildCustomRow(const CustomClickerAssignment& assignment) {
    const Uuid id = assignment.id();
    const CustomAssignmentControls controls =
        window_->addCustomRow(QString::fromStdString(id.string()));
    connect(controls.field, &ClickerKeyRecorderField::recordingBegan, this,
            &ClickerDistributorWindowController::fieldBeganRecording);
    connect(controls.field, &ClickerKeyRecorderField::recordingEnded, this,
            &ClickerDistributorWindowController::fieldEndedRecording);
    connect(controls.listenButton, &QPushButton::clicked, this, [this, id] { listenPressed(id); });
    connect(controls.deleteButton, &QToolButton::clicked, this,
            [this, id] { deleteCustomAssignment(id); });
    connect(controls.commandPopup, &QComboBox::activated, this,
            [this, id](int index) { chooseAction(id, index); });
    customControls_[id] = controls;
}

void ClickerDistributorWindowController::rebuildFocusOrder() {
    std::vector<CustomAssignmentControls> rows;
    for (const CustomClickerAssignment& assignment : edited_.customAssignments) {
        rows.push_back(customControls_.at(assignment.id()));
    }
    window_->setFocusOrder(rows);
}

void ClickerDistributorWindowController::setPendingCapture(
    std::optional<ClickerKeyCapture> capture) {
    const bool wasRecording = pendingCapture_.has_value();
    pendingCapture_ = std::move(capture);
    window_->setCapturing(pendingCapture_.has_value());
    if (wasRecording != pendingCapture_.has_value() && callbacks_.onRecordingChanged) {
        callbacks_.onRecordingChanged(pendingCapture_.has_value());
    }
}

void ClickerDistributorWindowController::clearCaptureAndMessage() {
    setPendingCapture(std::nullopt);
    validationMessage_.clear();
}

void ClickerDistributorWindowController::endFieldRecording() {
    if (qobject_cast<ClickerKeyRecorderField*>(window_->focusWidget())) {
        window_->setFocus(Qt::OtherFocusReason);
    }
}

void ClickerDistributorWindowController::fieldBeganRecording(const ClickerMappingTarget& target) {
    if (isTestingInput_) {
        return;
    }
    validationMessage_.clear();
    setPendingCapture(ClickerKeyCapture{target, ClickerKeyCaptureMode::direct});
    refreshControls();
}

void ClickerDistributorWindowController::fieldEndedRecording(const ClickerMappingTarget& target) {
    if (pendingCapture_ != ClickerKeyCapture{target, ClickerKeyCaptureMode::direct}) {
        return;
    }
    setPendingCapture(std::nullopt);
    endFieldRecording();
    refreshControls();
}

void ClickerDistributorWindowController::listenPressed(const ClickerMappingTarget& target) {
    const ClickerKeyCapture listening{target, ClickerKeyCaptureMode::listening};
    if (pendingCapture_ == listening) {
        clearCaptureAndMessage();
        endFieldRecording();
        refreshControls();
        return;
    }
    if (isTestingInput_) {
        return;
    }
    validationMessage_.clear();
    setPendingCapture(listening);
    refreshControls();
}

bool ClickerDistributorWindowController::captureKeyDown(const ClickerKeyDown& keyDown) {
    if (!isTestingInput_) {
        return handleKeyDown(keyDown);
    }
    if (keyDown.keyCode == ClickerKeyCode::escape) {
        endTest();
        return true;
    }
    const ClickerKeystroke pressed{
        keyDown.keyCode, keyDown.modifierFlags & ClickerModifierFlags::recordable, {}};
    return pressed == edited_.previous || pressed == edited_.next;
}

bool ClickerDistributorWindowController::handleKeyDown(const ClickerKeyDown& keyDown) {
    if (!pendingCapture_) {
        return false;
    }
    const ClickerKeystrokeInterpretation interpretation = ClickerKeystrokeInterpreter::interpret(
        keyDown.keyCode, keyDown.modifierFlags, keyDown.charactersIgnoringModifiers);
    switch (interpretation.kind) {
        case ClickerKeystrokeInterpretation::Kind::cancel:
            clearCaptureAndMessage();
            endFieldRecording();
            refreshControls();
            break;
        case ClickerKeystrokeInterpretation::Kind::ignored:
            break;
        case ClickerKeystrokeInterpretation::Kind::keystroke:
            // A copy: recording clears the pending capture.
            record(ClickerMappingTarget(pendingCapture_->action), *interpretation.keystroke);
            break;
    }
    return true;
}

void ClickerDistributorWindowController::record(const ClickerMappingTarget& target,
                                                const ClickerKeystroke& recorded) {
    const auto conflict = ClickerAssignmentEditing::conflictingTarget(edited_, target, recorded);
    clearCaptureAndMessage();
    if (!conflict) {
        if (ClickerAssignmentEditing::setKeystroke(edited_, target, recorded)) {
            commit();
        }
    } else {
        validationMessage_ =
            QStringLiteral("%1 is already assigned to %2. Choose a different keystroke for %3.")
                .arg(QString::fromStdString(recorded.displayName()), targetDescription(*conflict),
                     targetDescription(target));
    }
    endFieldRecording();
    refreshControls();
}

void ClickerDistributorWindowController::commit() {
    if (!edited_.isValid()) {
        return;
    }
    const Committed committed = callbacks_.commitConfiguration(edited_);
    if (committed.notSavedReason) {
        // Not saved: show what is in effect, so the window never claims more than the listener
        // uses, and say when it will be saved.
        showConfiguration(committed.configuration);
        validationMessage_ = unsavedChangeText(*committed.notSavedReason);
    }
}

void ClickerDistributorWindowController::showConfiguration(
    const ClickerInputConfiguration& stored) {
    const auto ids = [](const std::vector<CustomClickerAssignment>& rows) {
        std::vector<Uuid> result;
        std::ranges::transform(rows, std::back_inserter(result), &CustomClickerAssignment::id);
        return result;
    };
    const bool sameRows = ids(stored.customAssignments) == ids(edited_.customAssignments);
    edited_ = stored;
    if (sameRows) {
        return;
    }
    for (const auto& [id, controls] : customControls_) {
        window_->removeCustomRow(controls);
    }
    customControls_.clear();
    for (const CustomClickerAssignment& assignment : edited_.customAssignments) {
        buildCustomRow(assignment);
    }
    rebuildFocusOrder();
}

void ClickerDistributorWindowController::addCustomAssignment() {
    clearCaptureAndMessage();
    endFieldRecording();
    refreshControls();
    const CustomClickerAssignment assignment;
    edited_.customAssignments.push_back(assignment);
    buildCustomRow(assignment);
    rebuildFocusOrder();
    commit();
    refreshControls();
    if (const auto shown = customControls_.find(assignment.id()); shown != customControls_.end()) {
        window_->scrollToCustomRow(shown->second);
    }
}

void ClickerDistributorWindowController::deleteCustomAssignment(const Uuid& id) {
    if (!customControls_.contains(id)) {
        return;
    }
    clearCaptureAndMessage();
    endFieldRecording();
    refreshControls();
    std::erase_if(edited_.customAssignments,
                  [&](const CustomClickerAssignment& row) { return row.id() == id; });
    window_->removeCustomRow(customControls_.at(id));
    customControls_.erase(id);
    rebuildFocusOrder();
    commit();
    refreshControls();
}

void ClickerDistributorWindowController::chooseAction(const Uuid& id, int index) {
    if (!ClickerAssignmentEditing::row(edited_, id)) {
        return;
    }
    clearCaptureAndMessage();
    endFieldRecording();
    refreshControls();
    if (CustomClickerAssignment* row = ClickerAssignmentEditing::row(edited_, id)) {
        row->action = index >= 1 && index <= static_cast<int>(allClickerCustomActions.size())
                          ? std::optional(allClickerCustomActions[static_cast<size_t>(index - 1)])
                          : std::nullopt;
    }
    commit();
    refreshControls();
}

void ClickerDistributorWindowController::resetToDefaults() {
    const bool unassigned = ClickerAssignmentEditing::resetToDefaults(edited_);
    validationMessage_ =
        unassigned ? QStringLiteral("Defaults restored. Conflicting custom keys were unassigned.")
                   : QString();
    setPendingCapture(std::nullopt);
    commit();
    endFieldRecording();
    refreshControls();
}

}  // namespace kelvra
