// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>

#include <QWidget>

#include "shell/WelcomeWindowPreference.h"
#include "shell/login_item/LaunchAtLoginPreference.h"

class QCheckBox;
class QLabel;
class QToolButton;

namespace kelvra {

/// The settings window's "General options": run at login with its note row, and the welcome
/// window at startup. Both are written at once when the user changes them; a write that fails
/// is explained in an alert and the checkbox shows what is in effect.
class SettingsStartupOptions final : public QWidget {
    Q_OBJECT

public:
    /// Makes the help button for a row from its title and help text.
    using HelpButtonFactory = std::function<QToolButton*(const QString&, const QString&)>;

    SettingsStartupOptions(std::shared_ptr<WelcomeWindowPreference> welcomePreference,
                           std::shared_ptr<LaunchAtLoginPreference> launchAtLoginPreference,
                           std::function<void()> openLoginItemsSettings,
                           const HelpButtonFactory& makeHelpButton, QWidget* parent = nullptr);

    void reloadLaunchAtLoginControls();
    void reloadWelcomeCheckbox();

signals:
    /// The note row appeared or went, so the window should fit its content again.
    void noteRowToggled();

private:
    void launchAtLoginChanged(bool checked);
    void welcomePreferenceChanged(bool checked);
    void showLaunchAtLoginNote(const QString& note);

    const std::shared_ptr<WelcomeWindowPreference> welcomePreference_;
    const std::shared_ptr<LaunchAtLoginPreference> launchAtLoginPreference_;
    const std::function<void()> openLoginItemsSettings_;

    QCheckBox* welcomeCheckbox_ = nullptr;
    QCheckBox* launchAtLoginCheckbox_ = nullptr;
    QLabel* launchAtLoginNoteLabel_ = nullptr;
    QWidget* launchAtLoginNoteRow_ = nullptr;
};

}  // namespace kelvra
