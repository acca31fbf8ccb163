// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backend/BackendSupervisorError.h"
#include "backend/DesktopProtocol.h"
#include "clicker/AccessibilityPermissionProviding.h"
#include "clicker/ClickerInputConfiguration.h"
#include "clicker/ClickerInputMonitoring.h"
#include "core/CancellableWork.h"
#include "core/MainThreadExecutor.h"

namespace kelvra {

/// One key-down as the Clicker Distributor's rules see it: the application key code of the
/// physical key, the modifier bits, and the text the key makes without modifiers.
struct ClickerKeyDown {
    uint16_t keyCode = 0;
    uint64_t modifierFlags = 0;
    std::optional<std::string> charactersIgnoringModifiers;
};

/// How a line of the window reads: as a side note, a warning, an error or a success.
enum class ClickerTextTone { secondary, orange, red, green };

/// One assignment row as the window shows it.
struct ClickerAssignmentRowState {
    ClickerMappingTarget target;
    /// A custom row's action; always absent for Previous and Next.
    std::optional<ClickerCustomAction> action;
    /// The keystroke, "Not assigned", or the prompt of a capture waiting for it.
    std::string keyText;
    /// The Listen button offers to cancel its capture.
    bool listening = false;
    /// That another program holds the keystroke; empty: none does.
    std::string conflict;

    friend bool operator==(const ClickerAssignmentRowState&,
                           const ClickerAssignmentRowState&) = default;
};

/// Everything the Clicker Distributor window shows, as one value.
struct ClickerDistributorWindowState {
    bool switchOn = false;
    bool switchUsable = false;
    /// "On" or "Off": what distribution is, whatever the switch shows meanwhile.
    std::string switchValue;
    /// Empty: the status line is hidden.
    std::string status;
    ClickerTextTone statusTone = ClickerTextTone::secondary;
    /// The keyboard-access button's title; empty: the button is hidden.
    std::string accessAction;
    /// The assignment section; hidden while distribution is off.
    bool assignmentsShown = false;
    ClickerAssignmentRowState previous;
    ClickerAssignmentRowState next;
    std::vector<ClickerAssignmentRowState> custom;
    /// False during an input test: the assignments, the add and the reset wait.
    bool editable = true;
    std::optional<ClickerKeyCapture> capture;
    std::string feedback;
    /// Empty for the standing hint.
    std::string feedbackToolTip;
    ClickerTextTone feedbackTone = ClickerTextTone::secondary;
    std::string testTitle;
    bool testUsable = false;

    friend bool operator==(const ClickerDistributorWindowState&,
                           const ClickerDistributorWindowState&) = default;
};

/// The Clicker Distributor window's behaviour without its widgets: the edited configuration
/// with its captures, conflicts and custom rows, the master switch's requests, the input test
/// and the keyboard-access state. It takes the person's intents and the owner's reports, and
/// publishes the whole window as one state value after each; what it asks of the world goes
/// out through `Effects`. Main thread only.
class ClickerDistributorModel {
public:
    /// The backend's answer to a switch request: the confirmed state, or why it failed.
    using SwitchCompletion = std::function<void(std::expected<bool, BackendSupervisorError>)>;

    /// A committed configuration as it is in effect, and the store's reason when it could not
    /// be saved (it then holds until the process ends).
    struct Committed {
        ClickerInputConfiguration configuration;
        std::optional<std::string> notSavedReason;
    };

    struct Effects {
        /// Ask the backend to switch distribution; the completion runs on the main thread.
        std::function<void(bool requestedEnabled, SwitchCompletion completion)> switchDistribution;
        /// Stores a valid edited configuration; answers what is now in effect.
        std::function<Committed(const ClickerInputConfiguration&)> commitConfiguration;
        /// True when an input test starts, false when it ends.
        std::function<void(bool)> testDemandChanged;
        /// True when a capture starts, false when it ends (not between two captures).
        std::function<void(bool)> recordingChanged;
        /// On every refresh of the keyboard-access state.
        std::function<void(AccessibilityAuthorizationStatus)> permissionChanged;
        /// Before keyboard access is asked for: the window comes to the front, so the
        /// question appears over it.
        std::function<void()> bringToFront;
    };

    static constexpr MainThreadExecutor::Duration testTimeout = std::chrono::seconds(10);

    /// Edits `configuration`, the one in effect.
    ClickerDistributorModel(std::shared_ptr<AccessibilityPermissionProviding> permissionProvider,
                            ClickerInputConfiguration configuration, MainThreadExecutor& executor,
                            Effects effects);
    ~ClickerDistributorModel();
    ClickerDistributorModel(const ClickerDistributorModel&) = delete;
    ClickerDistributorModel& operator=(const ClickerDistributorModel&) = delete;

    /// Called with the current state at once, then with each new one; an empty function stops.
    void observe(std::function<void(const ClickerDistributorWindowState&)> observer);
    const ClickerDistributorWindowState& state() const { return state_; }

    // The person's intents.
    /// The window is shown: no capture pending, and a fresh keyboard-access state.
    void present();
    /// A recorder field took or lost the keyboard focus.
    void beginRecording(const ClickerMappingTarget& target);
    void endRecording(const ClickerMappingTarget& target);
    /// The row's Listen button: waits for a key, or cancels that wait.
    void listen(const ClickerMappingTarget& target);
    /// A key pressed in the window; answers whether the window must keep it from its controls.
    /// `capture` in the state says whether a capture waits, which needs the key's text.
    bool keyDown(const ClickerKeyDown& keyDown);
    void switchDistribution(bool requested);
    void requestAccess();
    /// Starts the input test, or cancels the running one.
    void toggleTest();
    void addCustomAssignment();
    void deleteCustomAssignment(const Uuid& id);
    void chooseAction(const Uuid& id, std::optional<ClickerCustomAction> action);
    void resetToDefaults();
    /// The window lost activation or closed: a capture left waiting while another application
    /// is in front would keep the listener recording, so every clicker key would pass
    /// unnoticed to that application.
    void dismissCapture();
    void close();

    // The owner's reports.
    void updateDistributorState(const ClickerDistributorState& state, bool backendAvailable);
    void setListenerState(ClickerInputListenerState state);
    /// The assigned keystrokes another program holds.
    void setConflicts(std::vector<ClickerKeystroke> keystrokes);
    /// The backend is going away for a restart: no switch request is pending any more, a
    /// running input test ends without a message, and the switch waits for the next backend.
    void backendRestarting();
    /// An assigned Previous or Next key arrived during a test; ignored outside one.
    void detectedAssignedInput(ClickerDirection direction);
    void refreshPermissionState();

private:
    void publish();
    ClickerDistributorWindowState render() const;
    ClickerAssignmentRowState row(const ClickerMappingTarget& target) const;
    std::string description(const ClickerMappingTarget& target) const;

    void setCapture(std::optional<ClickerKeyCapture> capture);
    void clearCaptureAndMessage();
    void setMessage(std::string message, ClickerTextTone tone = ClickerTextTone::red);
    void record(const ClickerMappingTarget& target, const ClickerKeystroke& keystroke);
    void commit();
    void endTest(std::optional<std::string> message = std::nullopt,
                 ClickerTextTone tone = ClickerTextTone::red);

    std::shared_ptr<AccessibilityPermissionProviding> permissionProvider_;
    MainThreadExecutor& executor_;
    Effects effects_;
    std::function<void(const ClickerDistributorWindowState&)> observer_;
    ClickerDistributorWindowState state_;
    /// The configuration as edited here; what was last committed unless an edit was invalid.
    ClickerInputConfiguration edited_;
    std::optional<ClickerKeyCapture> capture_;
    std::string message_;
    ClickerTextTone messageTone_ = ClickerTextTone::red;
    ClickerDistributorState distributorState_;
    AccessibilityAuthorizationStatus permissionStatus_ =
        AccessibilityAuthorizationStatus::notDetermined;
    ClickerInputListenerState listenerState_ = ClickerInputListenerState::stopped;
    std::vector<ClickerKeystroke> conflicts_;
    bool testing_ = false;
    bool backendAvailable_ = false;
    /// The switch request in flight, which the switch shows meanwhile.
    std::optional<bool> requestedSwitch_;
    std::optional<CancellableWork> testTimeout_;
    /// Lets completions that arrive after the model is gone do nothing.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>();
};

}  // namespace kelvra
