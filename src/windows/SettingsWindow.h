// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

#include "core/MainThreadExecutor.h"
#include "server_config/HubNetworkServiceProvider.h"
#include "server_config/HubServerConfiguration.h"
#include "server_config/ServerStatus.h"
#include "windows/ServerAddressView.h"
#include "windows/StartupOptionsView.h"
#include "windows/widgets/AppWindow.h"

class QToolButton;

namespace kelvra {

class HelpPopover;

/// The settings window: the server section (where the server runs, its address, the network
/// and port it uses) over the two startup options. It shows what it is given and stores
/// nothing; each section reports a change through its callbacks. The window is created once and
/// only hidden when closed. Main thread only.
class SettingsWindow final : public AppWindow {
    Q_OBJECT

public:
    struct Callbacks {
        ServerAddressView::Callbacks server;
        StartupOptionsView::Callbacks startupOptions;
    };

    SettingsWindow(std::shared_ptr<const HubNetworkServiceProvider> serviceProvider,
                   std::shared_ptr<MainThreadExecutor> mainThread, Callbacks callbacks,
                   QWidget* parent = nullptr);

    /// Shows `configuration` (the one in effect) and the welcome choice in every control, then
    /// the window in front.
    void present(const HubServerConfiguration& configuration, bool showWelcomeWindow);
    /// The server's status in the server row, an apply included.
    void showServerStatus(const ServerStatus& status);
    /// The network list, from the services there are now.
    void reloadNetworkPopup();
    void reloadLaunchAtLoginControls();
    /// "Show welcome window", as the welcome window's own checkbox may have changed it.
    void showWelcomeWindowChoice(bool show);

protected:
    void changeEvent(QEvent* event) override;

private:
    QToolButton* makeHelpButton(const QString& title, const QString& text);

    ServerAddressView* server_ = nullptr;
    StartupOptionsView* startupOptions_ = nullptr;
    HelpPopover* helpPopover_ = nullptr;
};

}  // namespace kelvra
