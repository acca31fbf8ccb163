// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>

class QLabel;

#include "backend/BackendSupervisorError.h"
#include "backend/DesktopProtocol.h"
#include "clicker/AccessibilityPermissionProviding.h"
#include "clicker/ClickerInputConfiguration.h"
#include "clicker/ClickerInputMonitoring.h"
#include "core/CancellableWork.h"
#include "core/MainThreadExecutor.h"
#include "windows/ClickerDistributorWindow.h"
#include "windows/widgets/ThemeColors.h"

namespace kelvra {

/// The Clicker Distributor window's behaviour: the master switch, the status line and
/// keyboard-access action, recording of the Previous, Next and custom keystrokes with their
/// conflicts, the custom rows, the input test and the reset. It keeps the edited configuration
/// in memory and hands each committed change to its owner, which stores it; it never talks to a
/// store, the backend or the listener, only to its owner through the callbacks, and the owner
/// pushes backend state, listener state and detected test input back. Main thread only.
class ClickerDistributorWindowController : public QObject {
    Q_OBJECT

public:
    /// The backend's answer to a switch request: the confirmed state, or why it failed.
    using MasterUpdateCompletion = std::function<void(std::expected<bool, BackendSupervisorError>)>;

    /// A committed configuration as it is in effect, and the store's reason when it could not
    /// be saved (it then holds until the process ends).
    struct Committed {
        ClickerInputConfiguration configuration;
        std::optional<std::string> notSavedReason;
    };

    struct Callbacks {
        /// Ask the backend to switch distribution; the completion runs on the main thread.
        std::function<void(bool requestedEnabled, MasterUpdateCompletion completion)>
            onMasterUpdate;
        /// Stores a valid edited configuration; answers what is now in effect.
        std::function<Committed(const ClickerInputConfiguration&)> commitConfiguration;
        /// True when an input test starts, false when it ends.
        std::function<void(bool)> onTestDemandChanged;
        /// True when a capture starts, false when it ends (not between two captures).
        std::function<void(bool)> onRecordingChanged;
        /// On every refresh of the keyboard-access state.
        std::function<void(AccessibilityAuthorizationStatus)> onPermissionChanged;
    };

    static constexpr MainThreadExecutor::Duration testTimeout = std::chrono::seconds(10);

    /// Builds the window (hidden until `present`) to edit `configuration`, the one in effect.
    ClickerDistributorWindowController(
        std::shared_ptr<AccessibilityPermissionProviding> permissionProvider,
        ClickerInputConfiguration configuration, MainThreadExecutor& executor, Callbacks callbacks);
    ~ClickerDistributorWindowController() override;

    /// Shows the window at the front with no capture pending and a fresh keyboard-access state.
    void present();
    void updateDistributorState(const ClickerDistributorState& state, bool backendAvailable);
    /// Followed by `refreshRuntimeControls`, as the listener reports each state.
    void setListenerState(ClickerInputListenerState state);
    /// The assigned keystrokes another program holds: each is shown under its assignment with
    /// what the person can do.
    void setConflicts(std::vector<ClickerKeystroke> keystrokes);
    /// The backend is going away for a restart: no switch request is pending any more, a
    /// running input test ends without a message, and the switch waits for the next backend.
    void backendRestarting();
    void refreshRuntimeControls();
    /// An assigned Previous or Next key arrived during a test; ignored outside one.
    void detectedAssignedInput(ClickerDirection direction);
    void refreshPermissionState();

    ClickerDistributorWindow* window() const { return window_; }
    bool isTestingInput() const { return isTestingInput_; }
    const std::optional<ClickerKeyCapture>& pendingCapture() const { return pendingCapture_; }

private:
    void buildCustomRow(const CustomClickerAssignment& assignment);
    void rebuildFocusOrder();
    void refreshControls();
    void showConflict(QLabel* label, const ClickerMappingTarget& target) const;
    QString recorderText(const ClickerMappingTarget& target) const;
    QString targetDescription(const ClickerMappingTarget& target) const;
    void setFeedbackColour(ThemeColors::Role role);

    void setPendingCapture(std::optional<ClickerKeyCapture> capture);
    void clearCaptureAndMessage();
    void endFieldRecording();
    void fieldBeganRecording(const ClickerMappingTarget& target);
    void fieldEndedRecording(const ClickerMappingTarget& target);
    void listenPressed(const ClickerMappingTarget& target);
    bool captureKeyDown(const ClickerKeyDown& keyDown);
    bool handleKeyDown(const ClickerKeyDown& keyDown);
    void record(const ClickerMappingTarget& target, const ClickerKeystroke& keystroke);
    void commit();
    /// Makes `configuration` the edited one, rows and all.
    void showConfiguration(const ClickerInputConfiguration& configuration);

    void addCustomAssignment();
    void deleteCustomAssignment(const Uuid& id);
    void chooseAction(const Uuid& id, int index);
    void resetToDefaults();

    void testPressed();
    void endTest(std::optional<QString> message = std::nullopt,
                 ThemeColors::Role colour = ThemeColors::Role::red);
    void masterSwitchChanged(bool requested);
    void requestAccessibilityAccess();
    void closeWindow();

    std::shared_ptr<AccessibilityPermissionProviding> permissionProvider_;
    MainThreadExecutor& executor_;
    Callbacks callbacks_;
    /// The configuration as edited here; what was last committed unless an edit was invalid.
    ClickerInputConfiguration edited_;
    std::map<Uuid, CustomAssignmentControls> customControls_;
    std::optional<ClickerKeyCapture> pendingCapture_;
    QString validationMessage_;
    ClickerDistributorState distributorState_;
    AccessibilityAuthorizationStatus permissionStatus_ =
        AccessibilityAuthorizationStatus::notDetermined;
    ClickerInputListenerState listenerState_ = ClickerInputListenerState::stopped;
    std::vector<ClickerKeystroke> conflicts_;
    bool isTestingInput_ = false;
    bool backendAvailable_ = false;
    bool updatePending_ = false;
    std::optional<CancellableWork> testTimeoutWorkItem_;
    QPointer<ClickerDistributorWindow> window_;
    /// Lets completions that arrive after the controller is gone do nothing.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>();
};

}  // namespace kelvra
