// SPDX-License-Identifier: MIT
#include "app/AppDelegate.h"

#include <csignal>
#include <iostream>

#include <QApplication>
#include <QEvent>
#include <QSessionManager>
#include <QTimer>

#include "app/QtMainThreadExecutor.h"
#include "app/StartupAlert.h"
#include "app/TerminationSignals.h"
#include "app/UpdateDialogs.h"
#include "backend/BackendSupervisor.h"
#include "clicker/ClickerInputConfigurationStore.h"
#include "clicker/linux/KeyboardAccessPermissionProvider.h"
#include "clicker/linux/SessionKeyboardTap.h"
#include "core/FileLog.h"
#include "core/SettingsStore.h"
#include "desktop/ActivationTokenLoan.h"
#include "server_config/HubNetworkServiceMonitor.h"
#include "server_config/HubNetworkServiceProvider.h"
#include "server_config/HubServerConfigurationStore.h"
#include "server_config/NetworkChangeSource.h"
#include "server_config/NetworkServiceSource.h"
#include "shell/BundleLocation.h"
#include "shell/WelcomeWindowPreference.h"
#include "shell/instance/SingleInstanceCoordinator.h"
#include "shell/login_item/LaunchAtLoginPreference.h"
#include "shell/login_item/linux/MainAppLoginItemService.h"
#include "shell/updates/AppUpdater.h"
#include "shell/updates/AppVersionInfo.h"
#include "shell/updates/BundleInfo.h"
#include "shell/updates/FeedUpdaterController.h"
#include "shell/updates/UpdateFeed.h"
#include "tray/SettingsService.h"
#include "tray/StatusBarController.h"
#include "tray/qt/QtStatusBarView.h"
#include "tray/qt/TrayWindows.h"

namespace kelvra {

AppDelegate::AppDelegate(AppOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::scheduleLaunch() {
    // Quitting works only once the loop runs, and a second instance or a failed launch quits.
    QTimer::singleShot(0, this, &AppDelegate::applicationDidFinishLaunching);
}

/// What the view and the controller are built over.
struct AppDelegate::Services {
    Environment environment;
    std::shared_ptr<JsonFileSettingsStore> settingsStore;
    std::shared_ptr<SettingsService> settings;
    std::shared_ptr<LoginItemService> loginItems;
    std::shared_ptr<const HubNetworkServiceProvider> networkServiceProvider;
    std::shared_ptr<const SessionKeyboardTap> keyboardTap;
    std::shared_ptr<KeyboardAccessPermissionProvider> keyboardAccess;
};

void AppDelegate::applicationDidFinishLaunching() {
    mainThread_ = std::make_shared<QtMainThreadExecutor>();
    installTerminationRequests();
    const auto environment = currentEnvironment();
    if (!becomePrimaryInstance(environment) || !openLog()) {
        return;
    }
    const Services services = makeServices(environment);
    makeView();
    makeController(services);
    makeWindows(services);
    start();
}

void AppDelegate::installTerminationRequests() {
    QApplication::setQuitOnLastWindowClosed(false);
    // Every way the desktop asks us to quit becomes a termination request.
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { requestTermination(); });
    terminationSignals_ =
        std::make_unique<TerminationSignals>([this](int) { requestTermination(); });
}

bool AppDelegate::becomePrimaryInstance(const Environment& environment) {
    auto center = std::make_shared<DistributedNotificationCenter>(
        DistributedNotificationCenter::defaultDirectory(environment), mainThread_, mainThread_);
    auto coordinator = SingleInstanceCoordinator::create(
        SingleInstanceCoordinator::defaultDirectory(),
        SingleInstanceCoordinator::defaultNotificationIdentifier(), center);
    if (!coordinator) {
        failLaunch(Error(coordinator.error()));
        return false;
    }
    singleInstance_ = std::move(*coordinator);
    if (singleInstance_->isPrimary()) {
        return true;
    }
    // The desktop's permission to take the focus, which only the running instance can use.
    const auto activationToken = environmentValue(environment, "XDG_ACTIVATION_TOKEN");
    if (const auto posted = center->post(singleInstance_->notificationName(), activationToken);
        !posted) {
        std::cerr << "Kelvra Hub is already running but did not answer: "
                  << posted.error().description() << std::endl;
    }
    terminationApproved_ = true;
    requestTermination();
    return false;
}

bool AppDelegate::openLog() {
    auto log = FileLog::open(FileLog::defaultDirectory(), FileLog::kDefaultMaximumBytes);
    if (!log) {
        failLaunch(Error(log.error()));
        return false;
    }
    log_ = std::move(*log);
    log_->write("shell", "Kelvra Hub started; backend " + options_.backend.entryPointPath.string() +
                             " run by " + options_.backend.nodePath.string() + ".");
    return true;
}

AppDelegate::Services AppDelegate::makeServices(const Environment& environment) const {
    auto settingsStore =
        std::make_shared<JsonFileSettingsStore>(JsonFileSettingsStore::defaultPath(environment));
    // The app runs on whatever the store could read: the log says why, and a change that cannot
    // be saved is reported where it is made.
    if (const auto& problem = settingsStore->openingProblem()) {
        log_->write("shell", problem->description());
    }
    std::shared_ptr<LoginItemService> loginItems =
        MainAppLoginItemService::createDefault(environment);
    auto settings = std::make_shared<SettingsService>(
        std::make_shared<HubServerConfigurationStore>(settingsStore),
        std::make_shared<WelcomeWindowPreference>(settingsStore),
        std::make_shared<LaunchAtLoginPreference>(loginItems, settingsStore),
        std::make_shared<ClickerInputConfigurationStore>(settingsStore));
    auto keyboardTap = std::make_shared<const SessionKeyboardTap>(environment, log_, mainThread_);
    const auto executable = BundleLocation::executablePath();
    const auto resources =
        executable ? BundleLocation::resourcesDirectory(*executable) : std::nullopt;
    auto keyboardAccess = std::make_shared<KeyboardAccessPermissionProvider>(
        settingsStore,
        [keyboardTap](const KeyboardTapConfiguration& configuration) {
            return keyboardTap->accessGranted(configuration);
        },
        runCommandAsynchronously, mainThread_, log_,
        KeyboardAccessPermissionProvider::Files{
            .helper = executable ? executable->parent_path() / "kelvra-hub-keyboard-access"
                                 : std::filesystem::path(),
            .helpPage = resources ? *resources / "keyboard-access.html" : std::filesystem::path(),
        });
    return {
        .environment = environment,
        .settingsStore = std::move(settingsStore),
        .settings = std::move(settings),
        .loginItems = std::move(loginItems),
        .networkServiceProvider =
            std::make_shared<HubNetworkServiceProvider>(makeSystemNetworkServiceSource()),
        .keyboardTap = std::move(keyboardTap),
        .keyboardAccess = std::move(keyboardAccess),
    };
}

void AppDelegate::makeView() {
    view_ = std::make_shared<QtStatusBarView>(mainThread_);
}

void AppDelegate::makeController(const Services& services) {
    updateDialogs_ = std::make_shared<UpdateDialogs>(
        AppVersionInfo(BundleInfo::dictionary()).version, view_->browser());
    updater_ = AppUpdater::create(
        nullptr, [log = log_](const std::string& message) { log->write("updater", message); },
        mainThread_,
        FeedUpdaterController::factory(UpdateFeed::CheckConfiguration::standard(
                                           BundleInfo::dictionary(), services.environment),
                                       mainThread_, updateDialogs_));

    controller_ = StatusBarController::create(StatusBarControllerDependencies{
        .mainThread = mainThread_,
        .log = log_,
        .logPath = FileLog::defaultPath().string(),
        .view = view_,
        .requestTermination = [this] { requestTermination(); },
        .makeSupervisor =
            makeBackendSupervisorFactory(options_.backend, log_, mainThread_, mainThread_),
        .updateChecker = updater_,
        .settings = services.settings,
        .networkServiceProvider = services.networkServiceProvider,
        .networkServiceMonitor = HubNetworkServiceMonitor::create(
            mainThread_, makeSystemNetworkChangeSource(mainThread_)),
        .makeClickerMonitor =
            [keyboardTap = services.keyboardTap, settings = services.settings](
                std::function<void(ClickerCapturedInput)> onInput,
                ClickerInputMonitorReports reports) {
                return keyboardTap->makeListener(std::move(onInput), std::move(reports),
                                                 settings->clickerConfiguration());
            },
        .clickerPermissionProvider = services.keyboardAccess,
    });
}

void AppDelegate::makeWindows(const Services& services) {
    windows_ = std::make_unique<TrayWindows>(TrayWindows::Dependencies{
        .mainThread = mainThread_,
        .versionInfo = AppVersionInfo(BundleInfo::dictionary()),
        .loginItems = services.loginItems,
        .networkServiceProvider = services.networkServiceProvider,
        .settings = services.settings,
        .controller = controller_,
        .tray = &view_->tray(),
    });
    TrayIcon* tray = &view_->tray();
    TrayWindows* windows = windows_.get();
    connect(tray, &TrayIcon::openControlPageRequested, this, [this] { controller_->openKelvra(); });
    connect(tray, &TrayIcon::copyURLRequested, this, [this] { controller_->copyURL(); });
    connect(tray, &TrayIcon::settingsRequested, windows, &TrayWindows::showSettings);
    connect(tray, &TrayIcon::clickerDistributorRequested, windows,
            &TrayWindows::showClickerDistributor);
    connect(tray, &TrayIcon::checkForUpdatesRequested, this,
            [this] { controller_->checkForUpdates({}); });
    connect(tray, &TrayIcon::aboutRequested, windows, &TrayWindows::showAbout);
    connect(tray, &TrayIcon::quitRequested, this, [this] { controller_->confirmQuit(); });
    connect(view_.get(), &QtStatusBarView::trayMissing, windows, &TrayWindows::showWelcome);
    // One of our windows gaining focus: keyboard access may have been granted meanwhile.
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive) {
                    controller_->applicationDidBecomeActive();
                }
            });
}

void AppDelegate::start() {
    updater_->checkForUpdatesOnStartup();
    singleInstance_->installOpenHandler([this](std::optional<std::string> activationToken) {
        mainThread_->post([this, activationToken = std::move(activationToken)] {
            handleOpenRequest(activationToken);
        });
    });
    controller_->start([weak = std::weak_ptr(controller_)](std::expected<void, Error> started) {
        if (const auto controller = weak.lock(); controller && !started) {
            controller->showFatalError(started.error().description());
        }
    });
}

void AppDelegate::handleOpenRequest(const std::optional<std::string>& activationToken) {
    if (!controller_) {
        return;
    }
    {
        // The token goes to the page's browser in its own environment. Qt takes one for our
        // windows only from our environment, which other threads read while it would change.
        const ActivationTokenLoan loan(view_->browser(), activationToken);
        controller_->openRequested();
    }
    if (!view_->hasTray() && !controller_->isClosing()) {
        // Without a tray the welcome window is the only way to the menu; no window offers a
        // server that is stopping.
        windows_->showWelcome();
    }
}

void AppDelegate::failLaunch(const Error& error) {
    presentStartupFailure(error);
    exitStatus_ = 1;
    terminationApproved_ = true;
    requestTermination();
}

void AppDelegate::requestTermination() {
    QTimer::singleShot(0, this, [this] {
        if (applicationShouldTerminate()) {
            mainThread_->end();
            QCoreApplication::exit(exitStatus_);
        }
    });
}

bool AppDelegate::applicationShouldTerminate() {
    if (terminationApproved_ || !controller_) {
        return true;
    }
    if (terminationInProgress_) {
        return false;
    }
    terminationInProgress_ = true;
    controller_->shutdown([this] {
        terminationApproved_ = true;
        requestTermination();
    });
    return false;
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    // The desktop's quit (and Qt's own `quit()`): ours to answer, after the backend has stopped.
    if (watched == qApp && event->type() == QEvent::Quit) {
        requestTermination();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace kelvra
