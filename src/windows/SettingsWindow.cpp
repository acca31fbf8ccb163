// SPDX-License-Identifier: MIT
#include "windows/SettingsWindow.h"

#include <QEvent>
#include <QVBoxLayout>

#include "windows/widgets/Fonts.h"
#include "windows/widgets/HelpPopover.h"
#include "windows/widgets/Separator.h"
#include "windows/widgets/SymbolButton.h"
#include "windows/widgets/ThemeColors.h"
#include "windows/widgets/WindowSizing.h"

namespace kelvra {
namespace {

constexpr int kWindowWidth = 470;
constexpr int kMinimumHeight = 356;

}  // namespace

SettingsWindow::SettingsWindow(std::shared_ptr<const HubNetworkServiceProvider> serviceProvider,
                               std::shared_ptr<MainThreadExecutor> mainThread, Callbacks callbacks,
                               QWidget* parent)
    : AppWindow(parent) {
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(QStringLiteral("Kelvra Hub Settings"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    const HelpButtonFactory helpButton = [this](const QString& title, const QString& text) {
        return makeHelpButton(title, text);
    };

    auto* content = new QVBoxLayout(this);
    content->setContentsMargins(24, 20, 24, 22);
    content->setSpacing(10);
    content->addWidget(makeLabel(QStringLiteral("Server"), 19, QFont::Bold));
    server_ = new ServerAddressView(std::move(serviceProvider), std::move(mainThread),
                                    std::move(callbacks.server), helpButton);
    content->addWidget(server_);
    content->addSpacing(6);
    content->addWidget(new Separator);
    content->addSpacing(6);
    content->addWidget(makeLabel(QStringLiteral("General options"), 19, QFont::Bold));
    startupOptions_ = new StartupOptionsView(std::move(callbacks.startupOptions), helpButton);
    content->addWidget(startupOptions_);
    content->addStretch();
    // A message or note that comes or goes changes the height the content needs.
    connect(server_, &ServerAddressView::feedbackChanged, this,
            [this] { fitHeightToContent(this, kMinimumHeight); });
    connect(startupOptions_, &StartupOptionsView::noteRowToggled, this,
            [this] { fitHeightToContent(this, kMinimumHeight); });

    helpPopover_ = new HelpPopover(this, 280);
    setFixedWidth(kWindowWidth);
    fitHeightToContent(this, kMinimumHeight);
}

QToolButton* SettingsWindow::makeHelpButton(const QString& title, const QString& text) {
    auto* button =
        new SymbolButton(Symbol::info, ThemeColors::Role::secondaryLabel, {20, 20}, {16, 16});
    button->setObjectName(title);
    button->setToolTip(text);
    button->setAccessibleDescription(text);
    button->setAccessibleName(QStringLiteral("About ") + title);
    connect(button, &QToolButton::clicked, this,
            [this, button, title, text] { helpPopover_->toggle(button, title, {text}); });
    return button;
}

void SettingsWindow::present(const HubServerConfiguration& configuration, bool showWelcomeWindow) {
    startupOptions_->showWelcomeWindowChoice(showWelcomeWindow);
    reloadLaunchAtLoginControls();
    server_->showConfiguration(configuration);
    show();
    raise();
    activateWindow();
}

void SettingsWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        // The desktop's own settings may have changed the login item meanwhile.
        reloadLaunchAtLoginControls();
    }
}

void SettingsWindow::showServerStatus(const ServerStatus& status) {
    server_->showServerStatus(status);
}

void SettingsWindow::reloadNetworkPopup() {
    server_->reloadNetworkPopup();
}

void SettingsWindow::showWelcomeWindowChoice(bool show) {
    startupOptions_->showWelcomeWindowChoice(show);
}

void SettingsWindow::reloadLaunchAtLoginControls() {
    startupOptions_->reloadLaunchAtLoginControls();
}

}  // namespace kelvra
