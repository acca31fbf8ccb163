// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <variant>

#include "backend/BackendSupervisorError.h"
#include "backend/ClickerCommandInput.h"
#include "backend/DesktopProtocol.h"
#include "core/BackendServerBinding.h"
#include "core/ClickerCommand.h"

namespace kelvra {

/// Why a start failed: the supervisor's own reason (the runtime could not be launched, the
/// child exited first, the deadline passed), or the backend broke the desktop protocol first.
using BackendStartError = std::variant<BackendSupervisorError, DesktopProtocolError>;

/// What a supervisor reports about its child. Every callback runs on the main thread, never
/// under the supervisor's lock; none runs after `detachCallbacks` has returned.
struct BackendSupervisorCallbacks {
    /// The child exited after readiness without being asked to (exit code, or 128 + signal).
    std::function<void(int32_t)> onUnexpectedExit = {};
    /// The backend broke the protocol after readiness.
    std::function<void(const DesktopProtocolError&)> onFatalProtocol = {};
    std::function<void(bool)> onClickerListenerChange = {};
    std::function<void(const ClickerDistributorState&)> onClickerDistributorStateChange = {};
    std::function<void(const ClickerDistributorUpdateResult&)> onClickerDistributorUpdateResult =
        {};
};

/// One backend server child, as its owner drives it. Each launch of the backend gets a
/// supervisor of its own; a supervisor starts its child at most once. Owners stop a supervisor
/// before they let it go.
///
/// Completions run exactly once, on the main thread.
class BackendSupervising {
public:
    using StartCompletion = std::function<void(std::expected<std::string, BackendStartError>)>;
    using UpdateCompletion = std::function<void(std::expected<bool, BackendSupervisorError>)>;

    virtual ~BackendSupervising() = default;

    /// Replaces the callbacks; set them before `start`.
    virtual void setCallbacks(BackendSupervisorCallbacks callbacks) = 0;

    /// Drops the callbacks; call on the main thread. No callback runs after this returns.
    virtual void detachCallbacks() = 0;

    /// Launches the child; completes with the control page's address when it is ready.
    virtual void start(StartCompletion completion) = 0;

    /// Ends the child (shutdown command, SIGTERM, SIGKILL, each with its deadline); completes
    /// when it is gone. Never fails; a stop before `start` leaves nothing to start later.
    virtual void stop(std::function<void()> completion) = 0;

    /// Where clicker keys go, from any thread: open while the backend takes commands. A write
    /// never blocks; the backend drops what it cannot take.
    virtual std::shared_ptr<ClickerCommandInput> clickerCommands() = 0;

    /// Asks the backend to switch the Clicker Distributor; completes with the confirmed state.
    virtual void setClickerDistributorEnabled(bool enabled, UpdateCompletion completion) = 0;

    /// The child's exit code; absent before it exited and when a signal ended it.
    virtual std::optional<int32_t> recordedExitCode() const = 0;

    /// The child's process identifier once launched.
    virtual std::optional<pid_t> processIdentifier() const = 0;
};

/// Makes the supervisor for one launch; the binding is absent for a launch without one (the
/// smoke test). Injected so owners can be tested with scripted supervisors.
using BackendSupervisorFactory =
    std::function<std::shared_ptr<BackendSupervising>(std::optional<BackendServerBinding>)>;

}  // namespace kelvra
