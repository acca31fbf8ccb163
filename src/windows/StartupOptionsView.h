// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <functional>

#include <QWidget>

#include "core/Error.h"
#include "shell/login_item/LaunchAtLoginPreference.h"
#include "windows/widgets/HelpPopover.h"

class QCheckBox;
class QLabel;

namespace kelvra {

/// The settings window's "General options": run at login with its note row, and the welcome
/// window at startup. Each change goes to the owner at once; one that fails is explained in an
/// alert and the checkbox shows what is in effect.
class StartupOptionsView final : public QWidget {
    Q_OBJECT

public:
    struct Callbacks {
        /// Stores the run-at-login choice: the state now in effect, or why it failed.
        std::function<std::expected<LaunchAtLoginState, Error>(bool enabled)> setLaunchAtLogin;
        /// Stores the welcome-window choice; on failure the previous choice holds.
        std::function<std::expected<void, Error>(bool show)> setShowWelcomeWindow;
        /// The run-at-login state now: the desktop's own settings may change it.
        std::function<LaunchAtLoginState()> launchAtLoginState;
        /// Opens the desktop's Startup Applications settings.
        std::function<void()> openLoginItemsSettings;
    };

    StartupOptionsView(Callbacks callbacks, const HelpButtonFactory& makeHelpButton,
                       QWidget* parent = nullptr);

    /// Asks for the run-at-login state again.
    void reloadLaunchAtLoginControls();
    void showWelcomeWindowChoice(bool show);

signals:
    /// The note row appeared or went, so the window should fit its content again.
    void noteRowToggled();

private:
    void launchAtLoginChanged(bool checked);
    void welcomePreferenceChanged(bool checked);
    void showLaunchAtLoginNote(const QString& note);

    void showLaunchAtLoginState(LaunchAtLoginState state);

    const Callbacks callbacks_;

    QCheckBox* welcomeCheckbox_ = nullptr;
    QCheckBox* launchAtLoginCheckbox_ = nullptr;
    QLabel* launchAtLoginNoteLabel_ = nullptr;
    QWidget* launchAtLoginNoteRow_ = nullptr;
};

}  // namespace kelvra
