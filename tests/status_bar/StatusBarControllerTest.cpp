// SPDX-License-Identifier: MIT
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "backend/BackendSupervisor.h"
#include "core/SettingsStore.h"
#include "core/UniqueFd.h"
#include "server_config/ControlPageAddress.h"
#include "status_bar/StatusBarController.h"
#include "status_bar/StatusBarFakes.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;
using testing::FakeClickerMonitor;
using testing::FakeNetworkServices;
using testing::FakeStatusBarView;
using testing::FakeSupervisor;

class NoLoginItem final : public LoginItemService {
public:
    LoginItemStatus status() const override { return LoginItemStatus::notRegistered; }
    std::expected<void, LoginItemError> registerItem() override {
        return std::unexpected(
            LoginItemError(LoginItemError::Kind::executableNotFound, "/opt/kelvra-hub"));
    }
    std::expected<void, LoginItemError> unregister() override { return {}; }
    void openSystemSettingsLoginItems() override {}
};

const std::string firstURL = "http://127.0.0.1:31603/";
const std::string secondURL = "http://127.0.0.1:4000/";
const BackendStartError timeout = BackendSupervisorError::startupTimeout(15);
const BackendStartError protocolFailure =
    DesktopProtocolError(DesktopProtocolError::Kind::malformedReadiness);

class StatusBarControllerTest : public ::testing::Test {
protected:
    StatusBarControllerTest() { controller = makeController(settings); }

    std::shared_ptr<StatusBarController> makeController(std::shared_ptr<SettingsStore> store,
                                                        BackendSupervisorFactory factory = {}) {
        monitor = HubNetworkServiceMonitor::create(
            mainThread, std::make_shared<testing::IdleNetworkChangeSource>());
        StatusBarControllerParts parts{
            .mainThread = mainThread,
            .log = log,
            .logPath = "/logs/kelvra-hub.log",
            .view = view,
            .makeSupervisor = factory ? std::move(factory)
                                      : [this](std::optional<BackendServerBinding> binding) {
                                            EXPECT_EQ(runningSupervisors(), 0)
                                                << "a second child would run beside one";
                                            supervisors.push_back(
                                                std::make_shared<FakeSupervisor>(binding));
                                            return std::shared_ptr<BackendSupervising>(
                                                supervisors.back());
                                        },
            .updateChecker = nullptr,
            .welcomePreference = std::make_shared<WelcomeWindowPreference>(store),
            .launchAtLoginPreference =
                std::make_shared<LaunchAtLoginPreference>(std::make_unique<NoLoginItem>(), store),
            .serverConfigurationStore = std::make_shared<HubServerConfigurationStore>(store),
            .networkServiceProvider = std::make_shared<HubNetworkServiceProvider>(network),
            .networkServiceMonitor = monitor,
            .clickerConfigurationStore = std::make_shared<ClickerInputConfigurationStore>(store),
            .makeClickerMonitor =
                [this](auto onInput, ClickerInputMonitorReports) {
                    deliver = std::move(onInput);
                    monitors.push_back(std::make_shared<FakeClickerMonitor>());
                    return monitors.back();
                },
            .clickerAccessGranted = [this] { return accessGranted; },
        };
        return StatusBarController::create(std::move(parts));
    }

    int runningSupervisors() const {
        return static_cast<int>(std::ranges::count_if(
            supervisors, [](const auto& supervisor) { return supervisor->running(); }));
    }
    FakeSupervisor& current() { return *supervisors.back(); }
    bool listening() const {
        return !monitors.empty() && monitors.back()->started && !monitors.back()->stopped;
    }
    const ClickerInputMonitorLifecycle& lifecycle() const {
        return controller->clickerInputLifecycle();
    }

    /// Starts and makes the first backend ready.
    void startRunning() {
        controller->start([this](auto result) { startResults.push_back(result); });
        current().ready(firstURL);
        mainThread->runPending();
    }

    /// Applies `port`; the result lands in `applyResults`.
    void applyPort(int64_t port, bool force = false) {
        HubServerConfiguration configuration;
        configuration.port = port;
        controller->applyServerConfiguration(
            configuration, force, [this](auto result) { applyResults.push_back(result); });
        mainThread->runPending();
    }

    int64_t storedPort() const {
        return HubServerConfigurationStore(settings).configuration().port;
    }

    bool shutDown() {
        bool finished = false;
        controller->shutdown([&finished] { finished = true; });
        mainThread->runPending();
        return finished;
    }

    std::shared_ptr<ManualMainThreadExecutor> mainThread =
        std::make_shared<ManualMainThreadExecutor>();
    std::shared_ptr<testing::RecordingLog> log = std::make_shared<testing::RecordingLog>();
    std::shared_ptr<FakeStatusBarView> view = std::make_shared<FakeStatusBarView>();
    std::vector<std::shared_ptr<FakeClickerMonitor>> monitors;
    std::function<void(ClickerCapturedInput)> deliver;
    std::shared_ptr<FakeNetworkServices> network = std::make_shared<FakeNetworkServices>();
    std::shared_ptr<SettingsStore> settings = std::make_shared<InMemorySettingsStore>();
    std::shared_ptr<HubNetworkServiceMonitor> monitor;
    bool accessGranted = true;
    std::vector<std::shared_ptr<FakeSupervisor>> supervisors;
    std::vector<std::expected<void, Error>> startResults;
    std::vector<ServerSettingsApplyResult> applyResults;
    std::shared_ptr<StatusBarController> controller;
};

TEST_F(StatusBarControllerTest, StartsShowsTheAddressAndOpensThePageAskedForEarlier) {
    EXPECT_EQ(view->status().text, "Starting Kelvra Hub…");
    EXPECT_FALSE(view->urlActionsEnabled);
    controller->start([this](auto result) { startResults.push_back(result); });
    controller->openKelvra();
    EXPECT_TRUE(view->openedURLs.empty());
    EXPECT_EQ(view->welcomeWindows, std::vector{false});
    EXPECT_TRUE(log->contains(
        "[shell] Could not enable run at system startup: " +
        LoginItemError(LoginItemError::Kind::executableNotFound, "/opt/kelvra-hub").description()));
    ASSERT_EQ(supervisors.size(), 1u);
    EXPECT_EQ(current().binding, (BackendServerBinding{"0.0.0.0", 31603, "127.0.0.1"}));

    current().ready(firstURL);
    ASSERT_EQ(startResults.size(), 1u);
    EXPECT_TRUE(startResults[0].has_value());
    EXPECT_EQ(view->status(), (StatusLine{"●", StatusColor::green, "Running on 127.0.0.1:31603"}));
    EXPECT_TRUE(view->urlActionsEnabled);
    EXPECT_EQ(view->toolTip, "Kelvra Hub");
    EXPECT_TRUE(log->contains("[shell] Backend ready at " + firstURL + "."));
    EXPECT_TRUE(monitor->isRunning());
    ASSERT_EQ(view->openedURLs.size(), 1u);
    view->openedURLs[0].second(true);
    EXPECT_TRUE(log->contains("[shell] Opened " + firstURL + " in the default browser."));

    // Asked again while an apply restarts the server: nothing opens when it ends.
    applyPort(4000);
    controller->openKelvra();
    current().ready(secondURL);
    EXPECT_EQ(view->openedURLs.size(), 1u);
}

TEST_F(StatusBarControllerTest, HostAndPortOfTheControlPageAddress) {
    const std::pair<std::string, std::string> rows[] = {
        {"http://192.168.1.20:31603/", "192.168.1.20:31603"},
        {"http://10.0.0.1/", "10.0.0.1:80"},
        {"http://:8080/", "localhost:8080"},
        {"not a url at all", "localhost:80"},
    };
    for (const auto& [url, expected] : rows) {
        EXPECT_EQ(controlPageHostAndPort(url), expected) << url;
    }
}

TEST_F(StatusBarControllerTest, FailedStartStopsItsChildAndEndsInOneAlert) {
    controller->start([this](auto result) { startResults.push_back(result); });
    current().stopsAtOnce = false;
    current().fail(timeout);
    EXPECT_TRUE(startResults.empty()) << "the start must wait for the failed child's stop";
    current().finishStop();
    ASSERT_EQ(startResults.size(), 1u);
    ASSERT_FALSE(startResults[0].has_value());

    controller->handleCapturedInput(ClickerDirection::right);
    EXPECT_TRUE(current().sent.empty());
    controller->showFatalError(startResults[0].error().description());
    controller->showFatalError("The Kelvra Hub server stopped unexpectedly with code 1.");
    ASSERT_EQ(view->alerts.size(), 1u);
    EXPECT_EQ(view->alerts[0].message, Error(timeout).description());
    EXPECT_EQ(view->alerts[0].informativeText, "Log: /logs/kelvra-hub.log");
    EXPECT_EQ(view->status().text, "Kelvra Hub server error");
    EXPECT_EQ(view->statusItemRemovals, 1);
    view->alerts[0].dismissed();
    EXPECT_EQ(view->terminationRequests, 1);
    EXPECT_TRUE(shutDown());
    EXPECT_EQ(view->statusItemRemovals, 1);
}

// The fatal alert activates the application and the supervisor may still report: neither may
// start the keyboard listener behind it.
TEST_F(StatusBarControllerTest, UnexpectedExitEndsInOneAlertAndNothingListensBehindIt) {
    startRunning();
    current().callbacks.onClickerDistributorStateChange({true, 2, true});
    EXPECT_TRUE(listening());
    current().callbacks.onUnexpectedExit(3);
    current().callbacks.onFatalProtocol(
        DesktopProtocolError(DesktopProtocolError::Kind::malformedReadiness));
    ASSERT_EQ(view->alerts.size(), 1u);
    EXPECT_EQ(view->alerts[0].message, "The Kelvra Hub server stopped unexpectedly with code 3.");
    EXPECT_FALSE(view->urlActionsEnabled);
    EXPECT_FALSE(listening());

    controller->applicationDidBecomeActive();
    controller->clickerPermissionChanged(true);
    EXPECT_FALSE(lifecycle().permissionGranted());
    current().callbacks.onClickerDistributorStateChange({true, 2, true});
    current().callbacks.onClickerListenerChange(true);
    EXPECT_FALSE(lifecycle().distributionRequired());
    EXPECT_FALSE(listening());
    controller->handleCapturedInput(ClickerDirection::right);
    EXPECT_TRUE(current().sent.empty());
}

TEST_F(StatusBarControllerTest, AppliesAfterTheOldServerStoppedAndStoresOnlyWhatRuns) {
    startRunning();
    auto& first = current();
    first.stopsAtOnce = false;
    applyPort(4000);
    EXPECT_EQ(view->status().text, "Restarting Kelvra Hub…");
    EXPECT_EQ(view->serverURLs.back(), std::nullopt);
    EXPECT_EQ(supervisors.size(), 1u) << "nothing launches before the old server has stopped";
    first.finishStop();
    ASSERT_EQ(supervisors.size(), 2u);
    EXPECT_EQ(current().binding->port, 4000);
    EXPECT_EQ(storedPort(), HubServerConfiguration::defaultPort);
    current().ready(secondURL);
    ASSERT_EQ(applyResults.size(), 1u);
    EXPECT_EQ(applyResults[0], (ServerSettingsApplied{secondURL, std::nullopt}));
    EXPECT_EQ(storedPort(), 4000);
    EXPECT_EQ(view->status().text, "Running on 127.0.0.1:4000");

    // The stored settings again while running: the address at once, no restart.
    applyPort(4000);
    EXPECT_EQ(applyResults.back(), (ServerSettingsApplied{secondURL, std::nullopt}));
    EXPECT_EQ(supervisors.size(), 2u);

    // A late exit of the replaced supervisor changes nothing.
    first.callbacks.onUnexpectedExit(0);
    first.callbacks.onClickerListenerChange(true);
    EXPECT_TRUE(view->alerts.empty());
    EXPECT_FALSE(lifecycle().distributionRequired());
}

// A child that missed its deadline or broke the protocol may still hold the port; the restore
// on the same port must wait for it to be gone.
TEST_F(StatusBarControllerTest, FailedNewServerIsStoppedBeforeThePreviousOneComesBack) {
    for (const BackendStartError& failure : {timeout, protocolFailure}) {
        SCOPED_TRACE(Error(failure).diagnosticDescription());
        supervisors.clear();
        applyResults.clear();
        controller = makeController(settings);
        startRunning();
        applyPort(4000);
        current().stopsAtOnce = false;
        current().fail(failure);
        EXPECT_EQ(supervisors.size(), 2u);
        current().finishStop();
        ASSERT_EQ(supervisors.size(), 3u);
        EXPECT_EQ(current().binding->port, HubServerConfiguration::defaultPort);
        current().ready(firstURL);
        ASSERT_EQ(applyResults.size(), 1u);
        EXPECT_EQ(
            applyResults[0],
            std::unexpected(ServerConfigurationError::applyFailed(Error(failure).description())));
        EXPECT_EQ(storedPort(), HubServerConfiguration::defaultPort);
        EXPECT_TRUE(log->contains("[shell] Could not apply server settings: " +
                                  Error(failure).description()));
        EXPECT_EQ(view->status().text, "Running on 127.0.0.1:31603");
        EXPECT_TRUE(shutDown());
    }
}

TEST_F(StatusBarControllerTest, FailedRestoreEndsInTheFatalAlert) {
    startRunning();
    applyPort(4000);
    current().fail(BackendSupervisorError::earlyExit(1));
    current().fail(BackendSupervisorError::earlyExit(1));
    const auto reason = BackendSupervisorError::earlyExit(1).description();
    ASSERT_EQ(applyResults.size(), 1u);
    EXPECT_EQ(applyResults[0], std::unexpected(ServerConfigurationError::restoreFailed(reason)));
    ASSERT_EQ(view->alerts.size(), 1u);
    EXPECT_EQ(view->alerts[0].message,
              "Kelvra Hub could not restore the previous server after the new settings failed: " +
                  reason);
    EXPECT_EQ(runningSupervisors(), 0);
}

// Settings applies and network-change applies run one after another; network changes that
// pile up become one, which reads the stored settings when it runs.
TEST_F(StatusBarControllerTest, OverlappingAppliesRunOneAfterAnother) {
    startRunning();
    applyPort(4000);
    network->setEthernetAddress("10.1.2.3");
    for (int i = 0; i < 3; ++i) {
        controller->networkServicesDidChange();
    }
    applyPort(5000);
    mainThread->runPending();
    ASSERT_EQ(supervisors.size(), 2u);
    current().ready(secondURL);
    mainThread->runPending();
    // The network change runs next, on the settings stored by now.
    ASSERT_EQ(supervisors.size(), 3u);
    EXPECT_EQ(current().binding, (BackendServerBinding{"0.0.0.0", 4000, "10.1.2.3"}));
    current().ready("http://10.1.2.3:4000/");
    mainThread->runPending();
    ASSERT_EQ(supervisors.size(), 4u);
    EXPECT_EQ(current().binding->port, 5000);
    current().ready("http://10.1.2.3:5000/");
    mainThread->runPending();
    EXPECT_EQ(applyResults.size(), 2u);
    EXPECT_EQ(storedPort(), 5000);

    // A change that leaves the binding as it is restarts nothing.
    controller->networkServicesDidChange();
    mainThread->runPending();
    EXPECT_EQ(supervisors.size(), 4u);
    EXPECT_EQ(view->networkReloads, 4);
}

TEST_F(StatusBarControllerTest, FailedSettingsWriteKeepsTheServerAndSaysWhy) {
    testing::TemporaryDirectory directory;
    settings = std::make_shared<JsonFileSettingsStore>(
        directory.path() / "settings.json",
        JsonFileSettingsStore::Seams{
            .failStep =
                [](auto step) {
                    return step == JsonFileSettingsStore::FileStep::replaceFile ? ENOSPC : 0;
                },
            .now = {}});
    controller = makeController(settings);
    startRunning();
    applyPort(4000);
    current().ready(secondURL);
    ASSERT_EQ(applyResults.size(), 1u);
    ASSERT_TRUE(applyResults[0].has_value());
    EXPECT_EQ(applyResults[0]->url, secondURL);
    EXPECT_EQ(applyResults[0]->notSavedReason,
              settings->setInteger("probe", 1).error().description());
    EXPECT_TRUE(current().running());
    EXPECT_EQ(view->status().text, "Running on 127.0.0.1:4000");
}

// Quitting at each stage: no alert for a normal quit, nothing launched after it, every child
// stopped before the shutdown completes.
TEST_F(StatusBarControllerTest, QuitDuringStartWaitsForItAndStopsWhatCameUp) {
    controller->start([this](auto result) { startResults.push_back(result); });
    controller->shutdown([] {});
    EXPECT_FALSE(current().stopped) << "the start in flight is waited for";
    EXPECT_FALSE(monitor->isRunning());
    current().ready(firstURL);
    EXPECT_TRUE(current().stopped);
    EXPECT_FALSE(monitor->isRunning());
    EXPECT_EQ(view->statusItemRemovals, 1);
    EXPECT_TRUE(view->alerts.empty());
}

TEST_F(StatusBarControllerTest, QuitDuringStartThatFailsShowsNoAlert) {
    controller->start([this](auto result) { startResults.push_back(result); });
    bool finished = false;
    controller->shutdown([&finished] { finished = true; });
    current().fail(BackendSupervisorError::earlyExit(0));
    ASSERT_EQ(startResults.size(), 1u);
    controller->showFatalError(startResults[0].error().description());
    EXPECT_TRUE(view->alerts.empty());
    EXPECT_TRUE(finished);
}

TEST_F(StatusBarControllerTest, QuitDuringAnApplyLaunchesNothingAfterIt) {
    startRunning();
    current().stopsAtOnce = false;
    applyPort(4000);
    applyPort(5000);
    bool finished = false;
    controller->shutdown([&finished] { finished = true; });
    current().finishStop();
    mainThread->runPending();
    EXPECT_TRUE(finished);
    EXPECT_EQ(supervisors.size(), 1u);
    ASSERT_EQ(applyResults.size(), 2u);
    for (const auto& result : applyResults) {
        EXPECT_EQ(result, std::unexpected(ServerConfigurationError::appIsClosing()));
    }
    EXPECT_EQ(storedPort(), HubServerConfiguration::defaultPort);
}

TEST_F(StatusBarControllerTest, QuitWhileTheNewServerStartsStopsItOnceReady) {
    startRunning();
    applyPort(4000);
    bool finished = false;
    controller->shutdown([&finished] { finished = true; });
    EXPECT_FALSE(finished);
    current().ready(secondURL);
    mainThread->runPending();
    EXPECT_TRUE(finished);
    EXPECT_EQ(runningSupervisors(), 0);
    EXPECT_TRUE(view->alerts.empty());
}

TEST_F(StatusBarControllerTest, ShutdownWithoutBackendStopsListenerAndItem) {
    controller->clickerTestDemandChanged(true);
    EXPECT_TRUE(listening());
    EXPECT_TRUE(shutDown());
    EXPECT_FALSE(listening());
    EXPECT_EQ(view->statusItemRemovals, 1);
}

TEST_F(StatusBarControllerTest, RoutesClickerKeysByTestModeFromTheDeliveryQueue) {
    startRunning();
    current().callbacks.onClickerDistributorStateChange({true, 1, true});
    struct Row {
        bool testing;
        ClickerCapturedInput input;
        bool sent;
        bool detected;
    };
    const Row rows[] = {
        {false, ClickerDirection::right, true, false},
        {false, ClickerCustomAction::blackout, true, false},
        {true, ClickerDirection::left, false, true},
        {true, ClickerCustomAction::blackout, false, false},
    };
    for (const auto& row : rows) {
        current().sent.clear();
        view->detectedInput.clear();
        controller->clickerTestDemandChanged(row.testing);
        std::thread delivery([&] { deliver(row.input); });
        delivery.join();
        mainThread->runPending();
        EXPECT_EQ(current().sent.size(), row.sent ? 1u : 0u) << row.testing;
        EXPECT_EQ(view->detectedInput.size(), row.detected ? 1u : 0u) << row.testing;
    }
}

TEST_F(StatusBarControllerTest, ClickerKeysAndMasterSwitchFindNoBackendDuringAnApply) {
    startRunning();
    current().stopsAtOnce = false;
    applyPort(4000);
    controller->handleCapturedInput(ClickerDirection::right);
    EXPECT_TRUE(current().sent.empty());
    std::optional<std::expected<bool, BackendSupervisorError>> switched;
    controller->setClickerDistributorEnabled(true, [&](auto result) { switched = result; });
    ASSERT_TRUE(switched.has_value());
    EXPECT_EQ(
        *switched,
        std::unexpected(BackendSupervisorError(BackendSupervisorError::Kind::backendUnavailable)));
}

TEST_F(StatusBarControllerTest, CopyAndOpenFailuresNameTheAddress) {
    controller->copyURL();
    EXPECT_TRUE(view->alerts.empty());
    startRunning();
    view->clipboardWorks = false;
    controller->copyURL();
    controller->openKelvra();
    view->openedURLs.back().second(false);
    ASSERT_EQ(view->alerts.size(), 2u);
    EXPECT_EQ(view->alerts[0].informativeText, "Copy " + firstURL + " manually.");
    EXPECT_EQ(view->alerts[1].informativeText, "Open " + firstURL + " manually.");
    EXPECT_EQ(view->terminationRequests, 0);
}

TEST_F(StatusBarControllerTest, QuitAsksFirst) {
    controller->confirmQuit();
    view->quitConfirmations.at(0)(false);
    EXPECT_EQ(view->terminationRequests, 0);
    controller->confirmQuit();
    view->quitConfirmations.at(1)(true);
    EXPECT_EQ(view->terminationRequests, 1);
}

/// A socket listening on 127.0.0.1 at a port the system picked.
UniqueFd listeningSocket(int& port) {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    EXPECT_EQ(::bind(socket.get(), generic, length), 0);
    EXPECT_EQ(::listen(socket.get(), 1), 0);
    EXPECT_EQ(::getsockname(socket.get(), generic, &length), 0);
    port = ntohs(address.sin_port);
    return socket;
}

/// The status line of an HTTP GET of "/" on 127.0.0.1:`port`; empty when nothing answers.
std::string statusLineOfPage(int port) {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return {};
    }
    const std::string request = "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    EXPECT_EQ(::write(socket.get(), request.data(), request.size()),
              static_cast<ssize_t>(request.size()));
    std::string response(256, '\0');
    const ssize_t got = ::read(socket.get(), response.data(), response.size());
    response.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return response.substr(0, response.find("\r\n"));
}

/// Our living child processes.
int childCount() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, name, state;
        pid_t parent = 0;
        if (stat >> pid >> name >> state >> parent && parent == ::getpid() && state != "Z") {
            ++count;
        }
    }
    return count;
}

TEST_F(StatusBarControllerTest, RealBackendKeepsServingWhenTheNewPortIsTaken) {
    testing::TemporaryDirectory directory;
    ::setenv("KELVRA_HUB_SERVER_STATE_FILE", (directory.path() / "state.json").c_str(), 1);
    int oldPort = 0;
    int takenPort = 0;
    { auto probe = listeningSocket(oldPort); }
    const UniqueFd holder = listeningSocket(takenPort);
    HubServerConfiguration configuration{oldPort, HubNetworkSelection::localhost()};
    ASSERT_TRUE(HubServerConfigurationStore(settings).setConfiguration(configuration));
    const std::filesystem::path server = std::filesystem::path(KELVRA_TEST_SOURCE_DIR) / "server";
    controller = makeController(
        settings, makeBackendSupervisorFactory({KELVRA_TEST_NODE, server / "desktop.js", server},
                                               log, mainThread));
    controller->start([this](auto result) { startResults.push_back(result); });
    ASSERT_TRUE(mainThread->runUntil([&] { return !startResults.empty(); }, 20s));
    ASSERT_TRUE(startResults[0].has_value()) << startResults[0].error().description();

    configuration.port = takenPort;
    controller->applyServerConfiguration(configuration, false,
                                         [this](auto result) { applyResults.push_back(result); });
    ASSERT_TRUE(mainThread->runUntil([&] { return !applyResults.empty(); }, 30s));
    ASSERT_FALSE(applyResults[0].has_value());
    EXPECT_EQ(applyResults[0].error().kind(), ServerConfigurationError::Kind::applyFailed);
    EXPECT_TRUE(applyResults[0].error().description().starts_with(
        "The requested address or port could not be used."));
    EXPECT_EQ(statusLineOfPage(oldPort), "HTTP/1.1 200 OK");
    EXPECT_EQ(storedPort(), oldPort);
    EXPECT_EQ(childCount(), 1);

    bool finished = false;
    controller->shutdown([&finished] { finished = true; });
    ASSERT_TRUE(mainThread->runUntil([&] { return finished; }, 20s));
    EXPECT_EQ(childCount(), 0);
    ::unsetenv("KELVRA_HUB_SERVER_STATE_FILE");
}

}  // namespace
}  // namespace kelvra
