// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "clicker/ClickerInputMonitor.h"
#include "clicker/KeyboardTapChoice.h"
#include "core/Environment.h"
#include "core/LogSink.h"
#include "core/MainThreadExecutor.h"

namespace kelvra {

/// The keyboard tap of this session, the one choice behind every listener and every probe of
/// keyboard access: the device tap where the keyboards open for this user, else the X11 tap
/// where the session has an X server; `KELVRA_HUB_KEYBOARD_TAP` may force one.
class SessionKeyboardTap {
public:
    SessionKeyboardTap(const Environment& environment, std::shared_ptr<LogSink> log,
                       std::shared_ptr<MainThreadExecutor> mainThread);

    /// A listener on this tap, stopped until started.
    std::shared_ptr<ClickerInputMonitor> makeListener(
        std::function<void(ClickerCapturedInput)> onInput, ClickerInputMonitorReports reports,
        const ClickerInputConfiguration& configuration) const;

    /// Whether a tap can run for the assigned keys; absent while another session is at the
    /// seat, which holds the device tap's files meanwhile. The device tap is probed by opening
    /// its files, not by grabbing every keyboard; only the X11 tap, which takes nothing until it
    /// listens, is opened.
    std::optional<bool> accessGranted(const KeyboardTapConfiguration& configuration) const;

private:
    std::expected<std::unique_ptr<KeyboardTapBackend>, KeyboardTapError> open() const;

    const std::shared_ptr<LogSink> log_;
    const std::shared_ptr<MainThreadExecutor> mainThread_;
    const KeyboardTapBackends backends_;
    const std::optional<std::string> forced_;
};

}  // namespace kelvra
