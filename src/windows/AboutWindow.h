// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

#include <QIcon>
#include <QUrl>

#include "shell/updates/AppVersionInfo.h"
#include "windows/widgets/AppWindow.h"

namespace kelvra {

/// The about window: icon, name, version, a short description, the two headline features and
/// a link to the product website. Kept for reuse when closed. Main thread only.
class AboutWindow final : public AppWindow {
    Q_OBJECT

public:
    /// The product website.
    static const QUrl& websiteURL();

    /// `statusIcon` is the tray's image; without one the application icon is shown.
    /// `openURL` opens an address in the default browser.
    AboutWindow(const AppVersionInfo& versionInfo, const QIcon& statusIcon,
                std::function<void(const QUrl&)> openURL, QWidget* parent = nullptr);

private:
    const std::function<void(const QUrl&)> openURL_;
};

}  // namespace kelvra
