// SPDX-License-Identifier: MIT
#include "tray/qt/QtStatusBarView.h"

#include <QApplication>
#include <QMessageBox>
#include <QPalette>
#include <QWindow>

#include "desktop/Alert.h"
#include "desktop/Clipboard.h"
#include "windows/AboutWindow.h"
#include "windows/WelcomeWindow.h"
#include "windows/widgets/ThemeColors.h"

namespace kelvra {
namespace {

QColor colorOf(StatusColor color) {
    const QPalette palette = QApplication::palette();
    switch (color) {
        case StatusColor::secondary:
            return ThemeColors::color(ThemeColors::Role::secondaryLabel, palette);
        case StatusColor::green:
            return ThemeColors::color(ThemeColors::Role::green, palette);
        case StatusColor::red:
            return ThemeColors::color(ThemeColors::Role::red, palette);
    }
    return {};
}

QString qtText(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

QtStatusBarView::QtStatusBarView(Dependencies dependencies, QObject* parent)
    : QObject(parent), dependencies_(std::move(dependencies)) {
    connect(&tray_, &TrayIcon::openControlPageRequested, this,
            [this] { withActions([](auto& actions) { actions.openKelvra(); }); });
    connect(&tray_, &TrayIcon::copyURLRequested, this,
            [this] { withActions([](auto& actions) { actions.copyURL(); }); });
    connect(&tray_, &TrayIcon::settingsRequested, this,
            [this] { withActions([](auto& actions) { actions.showSettings(); }); });
    connect(&tray_, &TrayIcon::clickerDistributorRequested, this,
            [this] { withActions([](auto& actions) { actions.showClickerDistributor(); }); });
    connect(&tray_, &TrayIcon::checkForUpdatesRequested, this,
            [this] { withActions([](auto& actions) { actions.checkForUpdates({}); }); });
    connect(&tray_, &TrayIcon::aboutRequested, this,
            [this] { withActions([](auto& actions) { actions.showAbout(); }); });
    connect(&tray_, &TrayIcon::quitRequested, this,
            [this] { withActions([](auto& actions) { actions.confirmQuit(); }); });
    // One of our windows gaining focus: keyboard access may have been granted meanwhile.
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive) {
                    withActions([](auto& actions) { actions.applicationDidBecomeActive(); });
                }
            });

    tray_.show();
    bool shortened = false;
    const int waitSeconds =
        qEnvironmentVariableIntValue("KELVRA_HUB_TRAY_WAIT_SECONDS", &shortened);
    const auto waitLimit =
        shortened && waitSeconds >= 0 ? std::chrono::seconds(waitSeconds) : kTrayWaitLimit;
    trayWait_ = dependencies_.mainThread->postDelayed(waitLimit, [this, guard = QPointer(this)] {
        if (guard && !statusItemRemoved_ && !tray_.isDocked()) {
            presentWelcomeWindow();
        }
    });
}

QtStatusBarView::~QtStatusBarView() {
    trayWait_.cancel();
}

void QtStatusBarView::setActions(std::weak_ptr<StatusBarActions> actions) {
    actions_ = std::move(actions);
}

void QtStatusBarView::withActions(const std::function<void(StatusBarActions&)>& action) {
    if (const auto actions = actions_.lock()) {
        action(*actions);
    }
}

void QtStatusBarView::presentWelcomeWindow() {
    bringToFront(welcomeWindow());
}

void QtStatusBarView::setStatusLine(const StatusLine& line) {
    tray_.setStatusLine(qtText(line.symbol), colorOf(line.color), qtText(line.text));
}

void QtStatusBarView::setToolTip(const std::string& toolTip) {
    tray_.setToolTip(qtText(toolTip));
}

void QtStatusBarView::setURLActionsEnabled(bool enabled) {
    tray_.setURLItemsEnabled(enabled);
}

void QtStatusBarView::removeStatusItem() {
    statusItemRemoved_ = true;
    trayWait_.cancel();
    tray_.hide();
}

void QtStatusBarView::showCriticalAlert(const std::string& message,
                                        const std::string& informativeText,
                                        std::function<void()> dismissed) {
    std::erase_if(criticalAlerts_, [](const QPointer<QMessageBox>& alert) { return !alert; });
    criticalAlerts_.emplace_back(Alert{.style = AlertStyle::critical,
                                       .message = qtText(message),
                                       .informativeText = qtText(informativeText)}
                                     .open([dismissed = std::move(dismissed)](int) {
                                         if (dismissed) {
                                             dismissed();
                                         }
                                     }));
}

void QtStatusBarView::raiseCriticalAlerts() {
    for (const QPointer<QMessageBox>& alert : criticalAlerts_) {
        if (alert) {
            bringToFront(*alert);
        }
    }
}

void QtStatusBarView::confirmQuit(std::function<void(bool quit)> completion) {
    Alert{.style = AlertStyle::warning,
          .message = QStringLiteral("Are you sure you want to quit Kelvra Hub?"),
          .informativeText = QStringLiteral("Kelvra Hub will stop running."),
          .buttons = {QStringLiteral("Quit"), QStringLiteral("Cancel")}}
        .open([completion = std::move(completion)](int response) {
            completion(response == Alert::kFirstButtonResponse);
        });
}

bool QtStatusBarView::writeClipboard(const std::string& text) {
    return Clipboard::copyPlainText(qtText(text));
}

void QtStatusBarView::openURL(const std::string& url, std::function<void(bool opened)> completion) {
    browser_.open(qtText(url), std::move(completion));
}

void QtStatusBarView::requestTermination() {
    dependencies_.requestTermination();
}

void QtStatusBarView::showServerURL(const std::optional<std::string>& url) {
    serverURL_ = url;
    welcomeWindow().updateServerURL(url);
    if (settingsWindow_) {
        settingsWindow_->updateServerURL(url);
    }
}

void QtStatusBarView::showWelcomeWindow(bool dontShowAgainChecked) {
    welcomeWindow().showDontShowAgain(dontShowAgainChecked);
    presentWelcomeWindow();
}

void QtStatusBarView::showSettingsWindow(const SettingsWindowState& state) {
    SettingsWindow& window = settingsWindow();
    window.updateServerURL(state.url);
    window.present(state.configuration, state.showWelcomeWindow);
    bringToFront(window);
}

void QtStatusBarView::reloadNetworkChoices() {
    if (settingsWindow_) {
        settingsWindow_->reloadNetworkPopup();
    }
}

void QtStatusBarView::showAboutWindow() {
    if (!aboutWindow_) {
        aboutWindow_ = std::make_unique<AboutWindow>(
            dependencies_.versionInfo, statusIcon(), [this](const QUrl& url) {
                withActions([&](auto& actions) { actions.openPage(url.toString().toStdString()); });
            });
        tray_.installShortcuts(aboutWindow_.get());
    }
    bringToFront(*aboutWindow_);
}

void QtStatusBarView::showClickerWindow(const ClickerWindowState& state) {
    ClickerDistributorModel& model = clickerWindow(state.configuration);
    model.updateDistributorState(state.distributor, state.backendAvailable);
    model.setListenerState(state.listener);
    model.setConflicts(state.conflicts);
    model.present();
    bringToFront(*clickerWindow_);
}

void QtStatusBarView::updateClickerState(const ClickerDistributorState& state,
                                         bool backendAvailable) {
    if (clickerModel_) {
        clickerModel_->updateDistributorState(state, backendAvailable);
    }
}

void QtStatusBarView::clickerBackendRestarting() {
    if (clickerModel_) {
        clickerModel_->backendRestarting();
    }
}

void QtStatusBarView::setClickerListenerState(ClickerInputListenerState state) {
    if (clickerModel_) {
        clickerModel_->setListenerState(state);
    }
}

void QtStatusBarView::setClickerConflicts(const std::vector<ClickerKeystroke>& keystrokes) {
    if (clickerModel_) {
        clickerModel_->setConflicts(keystrokes);
    }
}

void QtStatusBarView::refreshClickerPermission() {
    if (clickerModel_) {
        clickerModel_->refreshPermissionState();
    }
}

void QtStatusBarView::clickerInputDetected(ClickerDirection direction) {
    if (clickerModel_) {
        clickerModel_->detectedAssignedInput(direction);
    }
}

WelcomeWindow& QtStatusBarView::welcomeWindow() {
    if (!welcomeWindow_) {
        welcomeWindow_ = std::make_unique<WelcomeWindow>(
            dependencies_.versionInfo, statusIcon(),
            WelcomeWindow::Callbacks{
                .onOpenControlPage =
                    [this] { withActions([](auto& actions) { actions.openKelvra(); }); },
                .onOpenSettings =
                    [this] { withActions([](auto& actions) { actions.showSettings(); }); },
                .onOpenClickerDistributor =
                    [this] {
                        withActions([](auto& actions) { actions.showClickerDistributor(); });
                    },
                .onShowMenu = [this](QWidget* anchor) { tray_.popUpMenuBelow(anchor); },
                .setShowAtStartup = startupOptionCallbacks().setShowWelcomeWindow,
            });
        bool shownAtStartup = true;
        withActions(
            [&](auto& actions) { shownAtStartup = actions.startupOptions().showWelcomeWindow; });
        welcomeWindow_->showDontShowAgain(!shownAtStartup);
        welcomeWindow_->updateServerURL(serverURL_);
        tray_.installShortcuts(welcomeWindow_.get());
    }
    return *welcomeWindow_;
}

StartupOptionsView::Callbacks QtStatusBarView::startupOptionCallbacks() {
    return {
        .setLaunchAtLogin =
            [this](bool enabled) {
                std::expected<LaunchAtLoginState, Error> result =
                    std::unexpected(Error(ServerConfigurationError::appIsClosing()));
                withActions([&](auto& actions) { result = actions.setLaunchAtLogin(enabled); });
                return result;
            },
        .setShowWelcomeWindow =
            [this](bool show) {
                std::expected<void, Error> result =
                    std::unexpected(Error(ServerConfigurationError::appIsClosing()));
                withActions([&](auto& actions) { result = actions.setShowWelcomeWindow(show); });
                // One setting with a checkbox in each window: both show it at once.
                if (result && welcomeWindow_) {
                    welcomeWindow_->showDontShowAgain(!show);
                }
                if (result && settingsWindow_) {
                    settingsWindow_->showWelcomeWindowChoice(show);
                }
                return result;
            },
        .launchAtLoginState =
            [this] {
                LaunchAtLoginState state = LaunchAtLoginState::disabled;
                withActions([&](auto& actions) { state = actions.startupOptions().launchAtLogin; });
                return state;
            },
        .openLoginItemsSettings =
            [loginItems = dependencies_.loginItems] { loginItems->openSystemSettingsLoginItems(); },
    };
}

SettingsWindow& QtStatusBarView::settingsWindow() {
    if (!settingsWindow_) {
        settingsWindow_ = std::make_unique<SettingsWindow>(
            dependencies_.networkServiceProvider, dependencies_.mainThread,
            SettingsWindow::Callbacks{
                .server = {
                    .applyConfiguration =
                        [this](const HubServerConfiguration& configuration,
                               std::function<void(ServerSettingsApplyResult)> completion) {
                            applyServerSettings(configuration, std::move(completion));
                        },
                    .copyURL = [this] { withActions([](auto& actions) { actions.copyURL(); }); },
                },
                .startupOptions = startupOptionCallbacks(),
            });
        settingsWindow_->updateServerURL(serverURL_);
        tray_.installShortcuts(settingsWindow_.get());
    }
    return *settingsWindow_;
}

void QtStatusBarView::applyServerSettings(
    const HubServerConfiguration& configuration,
    std::function<void(ServerSettingsApplyResult)> completion) {
    const auto actions = actions_.lock();
    if (!actions) {
        completion(std::unexpected(ServerConfigurationError::appIsClosing()));
        return;
    }
    actions->applyServerSettings(configuration, std::move(completion));
}

ClickerDistributorModel& QtStatusBarView::clickerWindow(
    const ClickerInputConfiguration& configuration) {
    if (!clickerModel_) {
        clickerModel_ = std::make_unique<ClickerDistributorModel>(
            dependencies_.permissionProvider, configuration, *dependencies_.mainThread,
            ClickerDistributorModel::Effects{
                .switchDistribution =
                    [this](bool enabled, ClickerDistributorModel::SwitchCompletion completion) {
                        const auto actions = actions_.lock();
                        if (!actions) {
                            completion(std::unexpected(BackendSupervisorError(
                                BackendSupervisorError::Kind::backendUnavailable)));
                            return;
                        }
                        actions->setClickerDistributorEnabled(enabled, std::move(completion));
                    },
                .commitConfiguration =
                    [this](const ClickerInputConfiguration& edited) {
                        ClickerDistributorModel::Committed committed{edited, {}};
                        withActions([&](auto& actions) {
                            auto stored = actions.commitClickerConfiguration(edited);
                            committed = {std::move(stored.configuration),
                                         std::move(stored.notSavedReason)};
                        });
                        return committed;
                    },
                .testDemandChanged =
                    [this](bool required) {
                        withActions(
                            [&](auto& actions) { actions.clickerTestDemandChanged(required); });
                    },
                .recordingChanged =
                    [this](bool recording) {
                        withActions(
                            [&](auto& actions) { actions.clickerRecordingChanged(recording); });
                    },
                .permissionChanged =
                    [this](AccessibilityAuthorizationStatus status) {
                        withActions([&](auto& actions) {
                            actions.clickerPermissionChanged(
                                status == AccessibilityAuthorizationStatus::granted);
                        });
                    },
                .bringToFront =
                    [this] {
                        clickerWindow_->raise();
                        clickerWindow_->activateWindow();
                    },
            });
        clickerWindow_ = std::make_unique<ClickerDistributorWindow>(*clickerModel_);
        tray_.installShortcuts(clickerWindow_.get());
    }
    return *clickerModel_;
}

void QtStatusBarView::bringToFront(QWidget& window) {
    // A window minimized or unmapped by the desktop still counts as visible to Qt.
    if (window.isVisible() && window.windowHandle() != nullptr &&
        !window.windowHandle()->isExposed()) {
        window.hide();
    }
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace kelvra
