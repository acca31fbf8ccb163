// SPDX-License-Identifier: MIT
#include "windows/ClickerDistributorWindowController.h"

#include <algorithm>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include "windows/ClickerAssignmentEditing.h"
#include "windows/ClickerDistributorStatus.h"
#include "windows/widgets/ClickerKeyRecorderField.h"
#include "windows/widgets/ToggleSwitch.h"

namespace kelvra {
namespace {

const QString kDefaultFeedback = QStringLiteral(
    "Each Previous slide, Next slide, or custom assignment must use a different keystroke.");

}  // namespace

ClickerDistributorWindowController::ClickerDistributorWindowController(
    std::shared_ptr<AccessibilityPermissionProviding> permissionProvider,
    ClickerInputConfiguration configuration, MainThreadExecutor& executor, Callbacks callbacks)
    : permissionProvider_(std::move(permissionProvider)),
      executor_(executor),
      callbacks_(std::move(callbacks)),
      edited_(std::move(configuration)),
      window_(new ClickerDistributorWindow) {
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

    for (const CustomClickerAssignment& assignment : edited_.customAssignments) {
        buildCustomRow(assignment);
    }
    rebuildFocusOrder();
    refreshControls();
}

ClickerDistributorWindowController::~ClickerDistributorWindowController() {
    if (testTimeoutWorkItem_) {
        testTimeoutWorkItem_->cancel();
    }
    // A focused recorder field reports losing the focus while the window is half destroyed.
    for (QObject* control : window_->findChildren<QObject*>()) {
        QObject::disconnect(control, nullptr, this, nullptr);
    }
    delete window_.data();
}

QString ClickerDistributorWindowController::targetDescription(
    const ClickerMappingTarget& target) const {
    return QString::fromStdString(ClickerAssignmentEditing::description(edited_, target));
}

QString ClickerDistributorWindowController::recorderText(const ClickerMappingTarget& target) const {
    if (pendingCapture_ && pendingCapture_->action == target) {
        return pendingCapture_->mode == ClickerKeyCaptureMode::listening
                   ? QStringLiteral("Listening…")
                   : QStringLiteral("Press a key…");
    }
    const auto assigned = ClickerAssignmentEditing::keystroke(edited_, target);
    return assigned ? QString::fromStdString(assigned->displayName())
                    : QStringLiteral("Not assigned");
}

void ClickerDistributorWindowController::showConflict(QLabel* label,
                                                      const ClickerMappingTarget& target) const {
    const auto keystroke = ClickerAssignmentEditing::keystroke(edited_, target);
    const bool held = keystroke && std::ranges::find(conflicts_, *keystroke) != conflicts_.end();
    label->setText(held ? QStringLiteral("Another program already uses %1, so Kelvra Hub cannot "
                                         "reserve it. Record a different keystroke, or quit that "
                                         "program and turn Clicker Distributor off and on.")
                              .arg(QString::fromStdString(keystroke->displayName()))
                        : QString());
    label->setVisible(held);
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
        showConflict(action == ClickerMappingAction::previous ? window->previousConflictLabel
                                                              : window->nextConflictLabel,
                     action);
        field->setEnabled(editable);
        listen->setEnabled(editable);
    }
    for (const CustomClickerAssignment& assignment : edited_.customAssignments) {
        const auto found = customControls_.find(assignment.id());
        if (found == customControls_.end()) {
            continue;
        }
        const CustomAssignmentControls& controls = found->second;
        controls.field->setDisplayText(recorderText(assignment.id()));
        showListen(controls.listenButton, assignment.id());
        showConflict(controls.conflictLabel, assignment.id());
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
    const bool switchUsable = backendAvailable_ && !updatePending_ && !isTestingInput_;
    // A disabled switch hands its focus on to the Previous field, which would start recording.
    if (!switchUsable && window->masterSwitch->hasFocus()) {
        window->setFocus(Qt::OtherFocusReason);
    }
    window->masterSwitch->setEnabled(switchUsable);
    for (QWidget* view : window->assignmentSectionViews) {
        view->setVisible(enabled);
    }

    const ClickerDistributorStatus status = clickerDistributorStatus(
        distributorState_, permissionStatus_, listenerState_, isTestingInput_);
    window->masterStatusLabel->setText(status.text);
    window->masterStatusLabel->setVisible(!status.text.isEmpty());
    ThemeColors::setTextRole(window->masterStatusLabel, status.colour);
    window->permissionButton->setText(status.permissionAction);
    window->permissionButton->setVisible(!status.permissionAction.isEmpty());

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

void ClickerDistributorWindowController::setConflicts(std::vector<ClickerKeystroke> keystrokes) {
    conflicts_ = std::move(keystrokes);
    refreshControls();
}

void ClickerDistributorWindowController::backendRestarting() {
    backendAvailable_ = false;
    updatePending_ = false;
    if (isTestingInput_) {
        endTest();
        setFeedbackColour(ThemeColors::Role::secondaryLabel);
    }
    refreshRuntimeControls();
}

void ClickerDistributorWindowController::detectedAssignedInput(ClickerDirection direction) {
    if (!isTestingInput_) {
        return;
    }
    const ClickerMappingAction action = direction == ClickerDirection::left
                                            ? ClickerMappingAction::previous
                                            : ClickerMappingAction::next;
    const ClickerKeystroke& detected =
        action == ClickerMappingAction::previous ? edited_.previous : edited_.next;
    const QString keyName = QString::fromStdString(detected.displayName());
    endTest(QStringLiteral("Detected %1 — %2. Assigned-key control is working.")
                .arg(targetDescription(action), keyName),
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
