// SPDX-License-Identifier: MIT
#include "windows/ClickerDistributorWindowController.h"

#include <algorithm>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include "clicker/ClickerKeystrokeInterpreter.h"
#include "windows/widgets/ClickerKeyRecorderField.h"
#include "windows/widgets/ToggleSwitch.h"

namespace kelvra {
namespace {

QString qString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString targetName(ClickerMappingAction action) {
    return action == ClickerMappingAction::previous ? QStringLiteral("Previous slide")
                                                    : QStringLiteral("Next slide");
}

const QString kDefaultFeedback = QStringLiteral(
    "Each Previous slide, Next slide, or custom assignment must use a different keystroke.");

}  // namespace

ClickerDistributorWindowController::ClickerDistributorWindowController(
    std::shared_ptr<AccessibilityPermissionProviding> permissionProvider,
    std::shared_ptr<ClickerInputConfigurationStore> configurationStore,
    MainThreadExecutor& executor, Callbacks callbacks)
    : permissionProvider_(std::move(permissionProvider)),
      configurationStore_(std::move(configurationStore)),
      executor_(executor),
      callbacks_(std::move(callbacks)),
      window_(new ClickerDistributorWindow) {
    const ClickerInputConfiguration stored = configurationStore_->configuration();
    assignments_ = {{ClickerMappingAction::previous, stored.previous},
                    {ClickerMappingAction::next, stored.next}};
    customAssignments_ = stored.customAssignments;

    ClickerDistributorWindow* window = window_;
    window->setKeyCaptureDelegate(
        [this](const ClickerKeyDown& keyDown) { return captureKeyDown(keyDown); });
    for (ClickerKeyRecorderField* field : {window->previousField, window->nextField}) {
        connect(field, &ClickerKeyRecorderField::recordingBegan, this,
                &ClickerDistributorWindowController::fieldBeganRecording);
        connect(field, &ClickerKeyRecorderField::recordingEnded, this,
                &ClickerDistributorWindowController::fieldEndedRecording);
    }
    connect(window->previousListenButton, &QPushButton::clicked, this,
            [this] { listenPressed(ClickerMappingAction::previous); });
    connect(window->nextListenButton, &QPushButton::clicked, this,
            [this] { listenPressed(ClickerMappingAction::next); });
    connect(window->masterSwitch, &ToggleSwitch::clicked, this,
            &ClickerDistributorWindowController::masterSwitchChanged);
    connect(window->permissionButton, &QPushButton::clicked, this,
            &ClickerDistributorWindowController::requestAccessibilityAccess);
    connect(window->testButton, &QPushButton::clicked, this,
            &ClickerDistributorWindowController::testPressed);
    connect(window->resetButton, &QPushButton::clicked, this,
            &ClickerDistributorWindowController::resetToDefaults);
    connect(window->addCustomAssignmentButton, &QPushButton::clicked, this,
            &ClickerDistributorWindowController::addCustomAssignment);
    connect(window->informationButton, &QToolButton::clicked, window,
            &ClickerDistributorWindow::toggleInformation);
    connect(window, &ClickerDistributorWindow::closed, this,
            &ClickerDistributorWindowController::closeWindow);
    // A capture left waiting while another application is in front would keep the listener
    // recording, so every clicker key would pass unnoticed to that application.
    connect(window, &ClickerDistributorWindow::deactivated, this, [this] {
        setPendingCapture(std::nullopt);
        endFieldRecording();
        refreshControls();
    });

    for (const CustomClickerAssignment& assignment : customAssignments_) {
        buildCustomRow(assignment);
    }
    rebuildFocusOrder();
    refreshControls();
}

ClickerDistributorWindowController::~ClickerDistributorWindowController() {
    if (testTimeoutWorkItem_) {
        testTimeoutWorkItem_->cancel();
    }
    delete window_.data();
}

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
    std::vector<QWidget*> order = {window_->masterSwitch,
                                   window_->permissionButton,
                                   window_->previousField,
                                   window_->previousListenButton,
                                   window_->nextField,
                                   window_->nextListenButton,
                                   window_->addCustomAssignmentButton};
    for (const CustomClickerAssignment& assignment : customAssignments_) {
        const auto found = customControls_.find(assignment.id());
        if (found == customControls_.end()) {
            continue;
        }
        const CustomAssignmentControls& controls = found->second;
        order.insert(order.end(), {controls.commandPopup, controls.field, controls.listenButton,
                                   controls.deleteButton});
    }
    order.insert(order.end(), {window_->testButton, window_->resetButton});
    for (size_t index = 1; index < order.size(); ++index) {
        QWidget::setTabOrder(order[index - 1], order[index]);
    }
}

std::optional<ClickerKeystroke> ClickerDistributorWindowController::keystroke(
    const ClickerMappingTarget& target) const {
    if (const auto* action = std::get_if<ClickerMappingAction>(&target)) {
        const auto found = assignments_.find(*action);
        if (found != assignments_.end()) {
            return found->second;
        }
        const ClickerInputConfiguration& defaults = ClickerInputConfiguration::defaults();
        return *action == ClickerMappingAction::previous ? defaults.previous : defaults.next;
    }
    const CustomClickerAssignment* row = customAssignment(std::get<Uuid>(target));
    return row ? row->keystroke : std::nullopt;
}

QString ClickerDistributorWindowController::recorderText(const ClickerMappingTarget& target) const {
    if (pendingCapture_ && pendingCapture_->action == target) {
        return pendingCapture_->mode == ClickerKeyCaptureMode::listening
                   ? QStringLiteral("Listening…")
                   : QStringLiteral("Press a key…");
    }
    const auto assigned = keystroke(target);
    return assigned ? QString::fromStdString(assigned->displayName())
                    : QStringLiteral("Not assigned");
}

QString ClickerDistributorWindowController::targetDescription(
    const ClickerMappingTarget& target) const {
    if (const auto* action = std::get_if<ClickerMappingAction>(&target)) {
        return targetName(*action);
    }
    const CustomClickerAssignment* row = customAssignment(std::get<Uuid>(target));
    return row && row->action ? qString(displayName(*row->action))
                              : QStringLiteral("the custom assignment");
}

CustomClickerAssignment* ClickerDistributorWindowController::customAssignment(const Uuid& id) {
    const auto found = std::ranges::find(customAssignments_, id, &CustomClickerAssignment::id);
    return found == customAssignments_.end() ? nullptr : &*found;
}

const CustomClickerAssignment* ClickerDistributorWindowController::customAssignment(
    const Uuid& id) const {
    const auto found = std::ranges::find(customAssignments_, id, &CustomClickerAssignment::id);
    return found == customAssignments_.end() ? nullptr : &*found;
}

void ClickerDistributorWindowController::setFeedbackColour(ThemeColors::Role role) {
    ThemeColors::setTextRole(window_->feedbackLabel, role);
}

void ClickerDistributorWindowController::refreshControls() {
    ClickerDistributorWindow* window = window_;
    const bool editable = !isTestingInput_;
    const auto showListen = [this](QPushButton* button, const ClickerMappingTarget& target) {
        const bool listening = pendingCapture_ && pendingCapture_->action == target &&
                               pendingCapture_->mode == ClickerKeyCaptureMode::listening;
        button->setText(listening ? QStringLiteral("Cancel") : QStringLiteral("Listen"));
    };
    for (const ClickerMappingAction action : allClickerMappingActions) {
        auto* field =
            action == ClickerMappingAction::previous ? window->previousField : window->nextField;
        auto* listen = action == ClickerMappingAction::previous ? window->previousListenButton
                                                                : window->nextListenButton;
        field->setDisplayText(recorderText(action));
        showListen(listen, action);
        field->setEnabled(editable);
        listen->setEnabled(editable);
    }
    for (const CustomClickerAssignment& assignment : customAssignments_) {
        const auto found = customControls_.find(assignment.id());
        if (found == customControls_.end()) {
            continue;
        }
        const CustomAssignmentControls& controls = found->second;
        controls.field->setDisplayText(recorderText(assignment.id()));
        showListen(controls.listenButton, assignment.id());
        controls.commandPopup->setCurrentIndex(
            assignment.action ? static_cast<int>(*assignment.action) + 1 : 0);
        for (QWidget* control :
             {static_cast<QWidget*>(controls.commandPopup), static_cast<QWidget*>(controls.field),
              static_cast<QWidget*>(controls.listenButton),
              static_cast<QWidget*>(controls.deleteButton)}) {
            control->setEnabled(editable);
        }
    }
    window->resetButton->setEnabled(editable);
    window->addCustomAssignmentButton->setEnabled(editable);

    QLabel* feedback = window->feedbackLabel;
    if (!validationMessage_.isEmpty()) {
        feedback->setText(validationMessage_);
        feedback->setToolTip(validationMessage_);
        setFeedbackColour(ThemeColors::Role::red);
    } else if (pendingCapture_) {
        const QString prompt =
            (pendingCapture_->mode == ClickerKeyCaptureMode::listening
                 ? QStringLiteral("Listening…")
                 : QStringLiteral("Recording…")) +
            QStringLiteral(
                " Press a keyboard key or clicker button for %1. Press Escape to cancel.")
                .arg(targetDescription(pendingCapture_->action));
        feedback->setText(prompt);
        feedback->setToolTip(prompt);
        setFeedbackColour(ThemeColors::Role::secondaryLabel);
    } else {
        feedback->setText(kDefaultFeedback);
        feedback->setToolTip(QString());
        setFeedbackColour(ThemeColors::Role::secondaryLabel);
    }
    window->setCapturing(pendingCapture_.has_value());
    refreshRuntimeControls();
}

void ClickerDistributorWindowController::refreshRuntimeControls() {
    ClickerDistributorWindow* window = window_;
    const bool enabled = distributorState_.enabled;
    const bool granted = permissionStatus_ == AccessibilityAuthorizationStatus::granted;
    // While a request is in flight the switch shows what the user asked for.
    if (!updatePending_) {
        window->masterSwitch->setChecked(enabled);
    }
    window->masterValueLabel->setText(enabled ? QStringLiteral("On") : QStringLiteral("Off"));
    window->masterSwitch->setEnabled(backendAvailable_ && !updatePending_ && !isTestingInput_);
    for (QWidget* view : window->assignmentSectionViews) {
        view->setVisible(enabled);
    }

    QString status;
    ThemeColors::Role colour = ThemeColors::Role::secondaryLabel;
    bool showPermissionButton = false;
    if (enabled && !granted) {
        status = QStringLiteral(
            "Keyboard Access required — Kelvra Hub cannot reserve assigned clicker keystrokes.");
        colour = ThemeColors::Role::orange;
        showPermissionButton = true;
        window->permissionButton->setText(permissionStatus_ ==
                                                  AccessibilityAuthorizationStatus::denied
                                              ? QStringLiteral("Show Keyboard Access Help")
                                              : QStringLiteral("Request Keyboard Access"));
    } else if (enabled && listenerState_ == ClickerInputListenerState::failed) {
        status = QStringLiteral(
            "Listener error — Kelvra Hub could not reserve assigned keystrokes. Check Keyboard "
            "Access, then restart Kelvra Hub.");
        colour = ThemeColors::Role::red;
    } else if (enabled && !distributorState_.listenerRequired && !isTestingInput_) {
        status = QStringLiteral(
            "Ready — Keyboard Access is enabled. No Presentation group currently receives clicks.");
    } else if (!enabled) {
        status = QStringLiteral("Off — Kelvra Hub is not monitoring keyboard input.");
    }
    window->masterStatusLabel->setText(status);
    window->masterStatusLabel->setVisible(!status.isEmpty());
    ThemeColors::setTextRole(window->masterStatusLabel, colour);
    window->permissionButton->setVisible(showPermissionButton);

    window->testButton->setText(isTestingInput_ ? QStringLiteral("Cancel Test")
                                                : QStringLiteral("Test Assigned Keys"));
    window->testButton->setEnabled(enabled && granted && backendAvailable_);
}

void ClickerDistributorWindowController::present() {
    setPendingCapture(std::nullopt);
    endFieldRecording();
    refreshControls();
    refreshPermissionState();
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void ClickerDistributorWindowController::updateDistributorState(
    const ClickerDistributorState& state, bool backendAvailable) {
    distributorState_ = state;
    backendAvailable_ = backendAvailable;
    if (!state.enabled) {
        setPendingCapture(std::nullopt);
        endFieldRecording();
        refreshControls();
        endTest();
    }
    refreshRuntimeControls();
}

void ClickerDistributorWindowController::setListenerState(ClickerInputListenerState state) {
    listenerState_ = state;
}

void ClickerDistributorWindowController::detectedAssignedInput(ClickerDirection direction) {
    if (!isTestingInput_) {
        return;
    }
    const ClickerMappingAction action = direction == ClickerDirection::left
                                            ? ClickerMappingAction::previous
                                            : ClickerMappingAction::next;
    const QString keyName = QString::fromStdString(keystroke(action)->displayName());
    endTest(QStringLiteral("Detected %1 — %2. Assigned-key control is working.")
                .arg(targetName(action), keyName),
            ThemeColors::Role::green);
}

void ClickerDistributorWindowController::refreshPermissionState() {
    const AccessibilityAuthorizationStatus status = permissionProvider_->authorizationStatus();
    if (status != permissionStatus_) {
        permissionStatus_ = status;
        endTest();
    }
    if (callbacks_.onPermissionChanged) {
        callbacks_.onPermissionChanged(status);
    }
    refreshRuntimeControls();
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
    return pressed == keystroke(ClickerMappingAction::previous) ||
           pressed == keystroke(ClickerMappingAction::next);
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
    std::vector<ClickerMappingTarget> targets = {ClickerMappingAction::previous,
                                                 ClickerMappingAction::next};
    for (const CustomClickerAssignment& assignment : customAssignments_) {
        targets.emplace_back(assignment.id());
    }
    const auto conflict = std::ranges::find_if(targets, [&](const ClickerMappingTarget& other) {
        return other != target && keystroke(other) == recorded;
    });
    clearCaptureAndMessage();
    if (conflict == targets.end()) {
        setKeystroke(target, recorded);
    } else {
        validationMessage_ =
            QStringLiteral("%1 is already assigned to %2. Choose a different keystroke for %3.")
                .arg(QString::fromStdString(recorded.displayName()), targetDescription(*conflict),
                     targetDescription(target));
    }
    endFieldRecording();
    refreshControls();
}

void ClickerDistributorWindowController::setKeystroke(const ClickerMappingTarget& target,
                                                      const ClickerKeystroke& recorded) {
    if (const auto* action = std::get_if<ClickerMappingAction>(&target)) {
        assignments_[*action] = recorded;
    } else if (CustomClickerAssignment* row = customAssignment(std::get<Uuid>(target))) {
        row->keystroke = recorded;
    } else {
        return;
    }
    commit();
}

void ClickerDistributorWindowController::commit() {
    const ClickerInputConfiguration configuration{*keystroke(ClickerMappingAction::previous),
                                                  *keystroke(ClickerMappingAction::next),
                                                  customAssignments_};
    if (!configuration.isValid()) {
        return;
    }
    const auto written = configurationStore_->setConfiguration(configuration);
    if (!written) {
        // The file could not be replaced. Show what the store now answers, so the window never
        // claims more than the listener uses, and say that it will not survive a restart.
        showStoredConfiguration();
        validationMessage_ = QString::fromStdString(written.error().description()) +
                             QStringLiteral(
                                 " The keystroke assignments shown apply until Kelvra "
                                 "Hub quits.");
    }
    if (callbacks_.onConfigurationChanged) {
        callbacks_.onConfigurationChanged(configurationStore_->configuration());
    }
}

void ClickerDistributorWindowController::showStoredConfiguration() {
    const ClickerInputConfiguration stored = configurationStore_->configuration();
    assignments_ = {{ClickerMappingAction::previous, stored.previous},
                    {ClickerMappingAction::next, stored.next}};
    const auto ids = [](const std::vector<CustomClickerAssignment>& rows) {
        std::vector<Uuid> result;
        std::ranges::transform(rows, std::back_inserter(result), &CustomClickerAssignment::id);
        return result;
    };
    const bool sameRows = ids(stored.customAssignments) == ids(customAssignments_);
    customAssignments_ = stored.customAssignments;
    if (sameRows) {
        return;
    }
    for (const auto& [id, controls] : customControls_) {
        window_->removeCustomRow(controls);
    }
    customControls_.clear();
    for (const CustomClickerAssignment& assignment : customAssignments_) {
        buildCustomRow(assignment);
    }
    rebuildFocusOrder();
}

void ClickerDistributorWindowController::addCustomAssignment() {
    clearCaptureAndMessage();
    endFieldRecording();
    refreshControls();
    const CustomClickerAssignment assignment;
    customAssignments_.push_back(assignment);
    buildCustomRow(assignment);
    rebuildFocusOrder();
    commit();
    refreshControls();
    window_->scrollToCustomRow(customControls_.at(assignment.id()));
}

void ClickerDistributorWindowController::deleteCustomAssignment(const Uuid& id) {
    if (!customControls_.contains(id)) {
        return;
    }
    clearCaptureAndMessage();
    endFieldRecording();
    refreshControls();
    std::erase_if(customAssignments_,
                  [&](const CustomClickerAssignment& row) { return row.id() == id; });
    window_->removeCustomRow(customControls_.at(id));
    customControls_.erase(id);
    rebuildFocusOrder();
    commit();
    refreshControls();
}

void ClickerDistributorWindowController::chooseAction(const Uuid& id, int index) {
    if (!customAssignment(id)) {
        return;
    }
    clearCaptureAndMessage();
    endFieldRecording();
    refreshControls();
    if (CustomClickerAssignment* row = customAssignment(id)) {
        row->action = index >= 1 && index <= static_cast<int>(allClickerCustomActions.size())
                          ? std::optional(allClickerCustomActions[static_cast<size_t>(index - 1)])
                          : std::nullopt;
    }
    commit();
    refreshControls();
}

void ClickerDistributorWindowController::resetToDefaults() {
    const ClickerInputConfiguration& defaults = ClickerInputConfiguration::defaults();
    assignments_ = {{ClickerMappingAction::previous, defaults.previous},
                    {ClickerMappingAction::next, defaults.next}};
    bool unassigned = false;
    for (CustomClickerAssignment& row : customAssignments_) {
        if (row.keystroke == defaults.previous || row.keystroke == defaults.next) {
            row.keystroke.reset();
            unassigned = true;
        }
    }
    validationMessage_ =
        unassigned ? QStringLiteral("Defaults restored. Conflicting custom keys were unassigned.")
                   : QString();
    setPendingCapture(std::nullopt);
    commit();
    endFieldRecording();
    refreshControls();
}

void ClickerDistributorWindowController::testPressed() {
    if (isTestingInput_) {
        endTest();
        return;
    }
    if (!distributorState_.enabled ||
        permissionStatus_ != AccessibilityAuthorizationStatus::granted) {
        return;
    }
    clearCaptureAndMessage();
    endFieldRecording();
    refreshControls();
    isTestingInput_ = true;
    validationMessage_ = QStringLiteral(
        "Press the assigned Previous slide or Next slide button. Test clicks are not sent to "
        "Presentation groups.");
    if (callbacks_.onTestDemandChanged) {
        callbacks_.onTestDemandChanged(true);
    }
    std::weak_ptr<bool> alive = alive_;
    testTimeoutWorkItem_ = executor_.postDelayed(testTimeout, [this, alive] {
        if (!alive.expired()) {
            endTest(QStringLiteral("No assigned input was detected. Check the clicker, "
                                   "assignment, and Keyboard Access permission."),
                    ThemeColors::Role::red);
        }
    });
    refreshControls();
}

void ClickerDistributorWindowController::endTest(std::optional<QString> message,
                                                 ThemeColors::Role colour) {
    if (testTimeoutWorkItem_) {
        testTimeoutWorkItem_->cancel();
        testTimeoutWorkItem_.reset();
    }
    const bool wasTesting = isTestingInput_;
    isTestingInput_ = false;
    if (wasTesting && callbacks_.onTestDemandChanged) {
        callbacks_.onTestDemandChanged(false);
    }
    if (message) {
        validationMessage_ = *message;
        refreshControls();
        setFeedbackColour(colour);
    } else {
        refreshControls();
    }
}

void ClickerDistributorWindowController::masterSwitchChanged(bool requested) {
    const bool previouslyEnabled = distributorState_.enabled;
    updatePending_ = true;
    refreshRuntimeControls();
    if (!callbacks_.onMasterUpdate) {
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    callbacks_.onMasterUpdate(requested, [this, alive, previouslyEnabled](
                                             std::expected<bool, BackendSupervisorError> result) {
        if (alive.expired()) {
            return;
        }
        updatePending_ = false;
        if (result) {
            const bool enabled = *result;
            distributorState_.enabled = enabled;
            distributorState_.listenerRequired = enabled && distributorState_.enabledGroupCount > 0;
            if (!enabled) {
                endTest();
            } else if (!previouslyEnabled &&
                       permissionStatus_ != AccessibilityAuthorizationStatus::granted) {
                requestAccessibilityAccess();
            }
        } else {
            distributorState_.enabled = previouslyEnabled;
            validationMessage_ = QStringLiteral("Could not update Clicker Distributor. Try again.");
        }
        refreshControls();
    });
}

void ClickerDistributorWindowController::requestAccessibilityAccess() {
    window_->raise();
    window_->activateWindow();
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

void ClickerDistributorWindowController::closeWindow() {
    setPendingCapture(std::nullopt);
    endFieldRecording();
    refreshControls();
    endTest();
}

}  // namespace kelvra
