// SPDX-License-Identifier: MIT
#include "windows/StartupOptionsView.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "core/Error.h"
#include "desktop/Alert.h"
#include "windows/widgets/Fonts.h"
#include "windows/widgets/ThemeColors.h"

namespace kelvra {
namespace {

const QString kLaunchAtLoginTitle = QStringLiteral("Run App at system startup");
const QString kWelcomeTitle = QStringLiteral("Welcome window");
const QString kStartupSettings = QStringLiteral("your desktop's Startup Applications settings");

}  // namespace

StartupOptionsView::StartupOptionsView(Callbacks callbacks, const HelpButtonFactory& makeHelpButton,
                                       QWidget* parent)
    : QWidget(parent), callbacks_(std::move(callbacks)) {
    auto* content = new QVBoxLayout(this);
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(10);
    const auto checkboxRow = [&makeHelpButton](QCheckBox* checkbox, const QString& title,
                                               const QString& help) {
        setFontSize(checkbox, 15);
        auto* row = new QHBoxLayout;
        row->setSpacing(4);
        row->addWidget(checkbox);
        row->addWidget(makeHelpButton(title, help));
        row->addStretch();
        return row;
    };

    launchAtLoginCheckbox_ = new QCheckBox(kLaunchAtLoginTitle);
    launchAtLoginCheckbox_->setObjectName(QStringLiteral("launchAtLoginCheckbox"));
    connect(launchAtLoginCheckbox_, &QCheckBox::clicked, this,
            &StartupOptionsView::launchAtLoginChanged);
    content->addLayout(checkboxRow(
        launchAtLoginCheckbox_, kLaunchAtLoginTitle,
        QStringLiteral("Recommended. Kelvra Hub starts in the background when you log in, so "
                       "Kelvra machines can always be controlled from this computer. You can "
                       "also change this in ") +
            kStartupSettings + u'.'));

    launchAtLoginNoteRow_ = new QWidget;
    launchAtLoginNoteRow_->setObjectName(QStringLiteral("launchAtLoginNoteRow"));
    auto* noteRow = new QHBoxLayout(launchAtLoginNoteRow_);
    // Indented to the checkbox's text, which the note explains.
    noteRow->setContentsMargins(24, 0, 0, 0);
    noteRow->setSpacing(8);
    launchAtLoginNoteLabel_ = new QLabel;
    launchAtLoginNoteLabel_->setObjectName(QStringLiteral("launchAtLoginNoteLabel"));
    launchAtLoginNoteLabel_->setWordWrap(true);
    setFontSize(launchAtLoginNoteLabel_, 12);
    ThemeColors::setTextRole(launchAtLoginNoteLabel_, ThemeColors::Role::secondaryLabel);
    auto* settingsButton = new QPushButton(QStringLiteral("Open Startup Applications…"));
    settingsButton->setObjectName(QStringLiteral("launchAtLoginSettingsButton"));
    setFontSize(settingsButton, 12);
    connect(settingsButton, &QPushButton::clicked, this, [this] {
        if (callbacks_.openLoginItemsSettings) {
            callbacks_.openLoginItemsSettings();
        }
    });
    noteRow->addWidget(launchAtLoginNoteLabel_, 1);
    noteRow->addWidget(settingsButton, 0, Qt::AlignTop);
    launchAtLoginNoteRow_->hide();
    content->addWidget(launchAtLoginNoteRow_);

    welcomeCheckbox_ = new QCheckBox(QStringLiteral("Show welcome window"));
    welcomeCheckbox_->setObjectName(QStringLiteral("welcomeCheckbox"));
    connect(welcomeCheckbox_, &QCheckBox::clicked, this,
            &StartupOptionsView::welcomePreferenceChanged);
    content->addLayout(checkboxRow(welcomeCheckbox_, kWelcomeTitle,
                                   QStringLiteral("Shows the welcome window each time Kelvra Hub "
                                                  "starts, with the control page address and a "
                                                  "quick overview.")));
}

void StartupOptionsView::showWelcomeWindowChoice(bool show) {
    welcomeCheckbox_->setChecked(show);
}

void StartupOptionsView::reloadLaunchAtLoginControls() {
    if (callbacks_.launchAtLoginState) {
        showLaunchAtLoginState(callbacks_.launchAtLoginState());
    }
}

void StartupOptionsView::showLaunchAtLoginState(LaunchAtLoginState state) {
    launchAtLoginCheckbox_->setChecked(state == LaunchAtLoginState::enabled);
    showLaunchAtLoginNote(state == LaunchAtLoginState::requiresApproval
                              ? QStringLiteral("Kelvra Hub is turned off in ") + kStartupSettings +
                                    u'.'
                              : QString());
}

void StartupOptionsView::launchAtLoginChanged(bool checked) {
    const auto result = callbacks_.setLaunchAtLogin(checked);
    if (!result) {
        reloadLaunchAtLoginControls();
        Alert{.style = AlertStyle::warning,
              .message =
                  checked ? QStringLiteral("Kelvra Hub could not be set to run at system startup.")
                          : QStringLiteral("Kelvra Hub could not stop running at system startup."),
              .informativeText = QString::fromStdString(result.error().description()) +
                                 QStringLiteral("\n\nYou can change this in ") + kStartupSettings +
                                 u'.'}
            .openOver(*window());
        return;
    }
    showLaunchAtLoginState(*result);
    if (checked && *result == LaunchAtLoginState::requiresApproval) {
        showLaunchAtLoginNote(QStringLiteral("Turn on Kelvra Hub in ") + kStartupSettings +
                              QStringLiteral(" to finish."));
    }
}

void StartupOptionsView::showLaunchAtLoginNote(const QString& note) {
    launchAtLoginNoteLabel_->setText(note);
    if (launchAtLoginNoteRow_->isHidden() != note.isEmpty()) {
        launchAtLoginNoteRow_->setVisible(!note.isEmpty());
        emit noteRowToggled();
    }
}

void StartupOptionsView::welcomePreferenceChanged(bool checked) {
    if (const auto stored = callbacks_.setShowWelcomeWindow(checked); !stored) {
        showWelcomeWindowChoice(!checked);
        Alert{.style = AlertStyle::warning,
              .message = QStringLiteral("Kelvra Hub could not save this setting."),
              .informativeText = QString::fromStdString(stored.error().description())}
            .openOver(*window());
    }
}

}  // namespace kelvra
