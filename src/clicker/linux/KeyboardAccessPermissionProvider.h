// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clicker/AccessibilityPermissionProviding.h"
#include "clicker/KeyboardTapBackend.h"
#include "core/LogSink.h"
#include "core/MainThreadExecutor.h"
#include "core/SettingsStore.h"

namespace kelvra {

/// Runs a program found on PATH to its end without blocking the caller; `done` gets its exit
/// status (128 + the signal for a program ended by a signal, 127 when it could not start) on a
/// thread of its own. The program starts before the call returns, with the environment as the
/// calling thread sees it then.
using CommandRunner =
    std::function<void(std::vector<std::string> arguments, std::function<void(int status)> done)>;

/// The real `CommandRunner`.
void runCommandAsynchronously(std::vector<std::string> arguments, std::function<void(int)> done);

/// Keyboard access on Linux: granted when the keyboard tap the session would use really opens
/// (the device files of every device with a stored assigned key, or else the X connection).
/// Requesting it runs our helper through pkexec, which installs a udev rule for whoever is at the
/// seat, then probes again; the help page says what the rule allows, how to install it by hand
/// and how to remove it.
class KeyboardAccessPermissionProvider final : public AccessibilityPermissionProviding {
public:
    struct Files {
        /// `kelvra-hub-keyboard-access`, installed beside the executable. Run only when it and
        /// every directory above it are owned by root and writable by no one else.
        std::filesystem::path helper;
        /// The Keyboard Access help page in the bundle's resources.
        std::filesystem::path helpPage;
    };

    /// Tells whether a keyboard tap opens now for the assigned keys; absent when that cannot be
    /// tried (another session is at the seat, which holds the keyboards' access meanwhile).
    using TapProbe = std::function<std::optional<bool>(const KeyboardTapConfiguration&)>;

    /// The assigned keys are those stored in `defaults`, read afresh at each probe.
    KeyboardAccessPermissionProvider(std::shared_ptr<SettingsStore> defaults, TapProbe canOpenTap,
                                     CommandRunner runCommand,
                                     std::shared_ptr<MainThreadExecutor> mainThread,
                                     std::shared_ptr<LogSink> log, Files files);

    AccessibilityAuthorizationStatus authorizationStatus() override;
    void requestAccess(std::function<void(bool granted)> completion) override;
    void openSystemSettings() override;

private:
    void recordRequest();

    const std::shared_ptr<SettingsStore> defaults_;
    /// The probe for the keys stored now.
    const std::function<std::optional<bool>()> canOpenTap_;
    const CommandRunner runCommand_;
    const std::shared_ptr<MainThreadExecutor> mainThread_;
    const std::shared_ptr<LogSink> log_;
    const Files files_;
};

}  // namespace kelvra
