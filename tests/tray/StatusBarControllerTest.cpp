// SPDX-License-Identifier: MIT
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

#include "backend/BackendSupervisor.h"
#include "core/Environment.h"
#include "core/HttpClient.h"
#include "support/BoundSocket.h"
#include "support/ManualMainThreadExecutor.h"
#include "support/RecordingLog.h"
#include "support/TestSupport.h"
#include "tray/StatusBarController.h"
#include "tray/StatusBarFakes.h"

namespace kelvra {
namespace {

/// The HTTP status of the page at `url`; 0 when nothing answers.
int pageStatus(const std::string& url) {
    HttpRequest request;
    request.url = url;
    request.timeout = std::chrono::seconds(5);
    const auto page = httpGet(request);
    return page ? page->statusCode : 0;
}

using namespace std::chrono_literals;
using testing::FakeSupervisor;

using testing::firstURL;
using testing::secondURL;

class StatusBarControllerTest : public ::testing::Test {
protected:
    StatusBarControllerTest() { controller = makeController(); }

    std::shared_ptr<StatusBarController> makeController(
        BackendSupervisorFactory factory = {},
        std::shared_ptr<NetworkServiceSource> services = nullptr,
        std::shared_ptr<NetworkChangeSource> changes = nullptr) {
        monitor = HubNetworkServiceMonitor::create(
            mainThread, changes ? changes : std::make_shared<testing::IdleNetworkChangeSource>());
        auto fake = [this](std::optional<BackendServerBinding> binding) {
            EXPECT_TRUE(std::ranges::all_of(supervisors, [](auto& s) { return s->stopped; }))
                << "a second child would run beside one";
            supervisors.push_back(std::make_shared<FakeSupervisor>(binding));
            return std::shared_ptr<BackendSupervising>(supervisors.back());
        };
        auto made = StatusBarController::create({
            .mainThread = mainThread,
            .log = log,
            .logPath = "/logs/kelvra-hub.log",
            .view = view,
            .requestTermination = [this] { ++terminationRequests; },
            .makeSupervisor = factory ? std::move(factory) : fake,
            .updateChecker = nullptr,
            .settings = testing::settingsIn(settings),
            .networkServiceProvider =
                std::make_shared<HubNetworkServiceProvider>(services ? services : network),
            .networkServiceMonitor = monitor,
            .makeClickerMonitor =
                [this](auto onInput, ClickerInputMonitorReports) {
                    deliver = std::move(onInput);
                    monitors.push_back(std::make_shared<testing::FakeClickerMonitor>());
                    return monitors.back();
                },
            .clickerPermissionProvider = std::make_shared<testing::FakePermissionProvider>(),
        });
        made->setWindowLinks({.serverStatus = {},
                              .networksChanged = {},
                              .welcomeWanted = [this] { ++welcomeWindows; },
                              .raiseClickerWindow = {}});
        return made;
    }

    FakeSupervisor& current() { return *supervisors.back(); }
    bool listening() const {
        return !monitors.empty() && std::ranges::count(monitors.back()->calls, "start") > 0 &&
               std::ranges::count(monitors.back()->calls, "stop") == 0;
    }
    void start() {
        controller->start([this](auto result) { startResults.push_back(result); });
    }
    void startRunning() {
        start();
        current().ready(firstURL);
    }
    void applyPort(int64_t port) {
        controller->applyServerSettings({HubServerPort::from(port).value(), {}},
                                        [this](auto result) { applyResults.push_back(result); });
        mainThread->runPending();
    }
    void shutdown() {
        controller->shutdown([this] { ++shutdowns; });
        mainThread->runPending();
    }

    std::shared_ptr<ManualMainThreadExecutor> mainThread =
        std::make_shared<ManualMainThreadExecutor>();
    std::shared_ptr<testing::RecordingLog> log = std::make_shared<testing::RecordingLog>();
    std::shared_ptr<testing::FakeStatusBarView> view =
        std::make_shared<testing::FakeStatusBarView>();
    BackendSupervisorFactory realFactory() {
        const auto server = std::filesystem::path(KELVRA_TEST_SOURCE_DIR) / "server";
        ::setenv("KELVRA_HUB_SERVER_STATE_FILE", (scratch.path() / "state.json").c_str(), 1);
        return makeBackendSupervisorFactory({KELVRA_TEST_NODE, server / "desktop.js", server}, log,
                                            mainThread, mainThread);
    }

    testing::TemporaryDirectory scratch;
    std::shared_ptr<testing::FakeNetworkServices> network =
        std::make_shared<testing::FakeNetworkServices>();
    std::shared_ptr<SettingsStore> settings = std::make_shared<InMemorySettingsStore>();
    std::shared_ptr<HubNetworkServiceMonitor> monitor;
    std::vector<std::shared_ptr<testing::FakeClickerMonitor>> monitors;
    std::function<void(ClickerCapturedInput)> deliver;
    std::vector<std::shared_ptr<FakeSupervisor>> supervisors;
    std::vector<std::expected<void, Error>> startResults;
    std::vector<ServerSettingsApplyResult> applyResults;
    int shutdowns = 0;
    int terminationRequests = 0;
    int welcomeWindows = 0;
    std::shared_ptr<StatusBarController> controller;
};

TEST_F(StatusBarControllerTest, StartsAndOpensThePageAskedForWhileStarting) {
    EXPECT_EQ(view->status.text, "Starting Kelvra Hub…");
    start();
    controller->openKelvra();
    EXPECT_TRUE(view->browserAnswers.empty());
    EXPECT_EQ(welcomeWindows, 1);
    EXPECT_EQ(current().binding, (BackendServerBinding{"0.0.0.0", 31603, "127.0.0.1"}));
    current().ready(firstURL);
    EXPECT_TRUE(startResults.at(0).has_value());
    EXPECT_EQ(view->status, (StatusLine{"●", StatusColor::green, "Running on 127.0.0.1:31603"}));
    EXPECT_TRUE(view->urlActionsEnabled);
    EXPECT_TRUE(monitor->isRunning());
    EXPECT_EQ(view->browserAnswers.size(), 1u);
}

TEST_F(StatusBarControllerTest, FailedStartStopsItsChildAndEndsInOneAlert) {
    start();
    current().callbacks.onClickerListenerChange(true);
    current().stopsAtOnce = false;
    current().fail(testing::startTimeout);
    EXPECT_TRUE(startResults.empty()) << "the start must wait for the failed child's stop";
    current().finishStop();
    ASSERT_FALSE(startResults.at(0).has_value());
    ASSERT_TRUE(deliver);
    deliver(ClickerDirection::right);
    EXPECT_TRUE(current().sent().empty()) << "a failed start's child takes no keys";

    controller->showFatalError(startResults[0].error().description());
    ASSERT_EQ(view->alerts.size(), 1u);
    EXPECT_EQ(view->alerts[0].message, Error(testing::startTimeout).description());
    EXPECT_EQ(view->alerts[0].informativeText, "Log: /logs/kelvra-hub.log");
    view->alerts[0].dismissed();
    EXPECT_EQ(terminationRequests, 1);
    shutdown();
    EXPECT_EQ(shutdowns, 1);
    EXPECT_EQ(view->statusItemRemovals, 1);
}

// The fatal alert activates the application and the supervisor may still report: neither may
// start the keyboard listener behind it. A second launch opens nothing but the alert again.
TEST_F(StatusBarControllerTest, NothingListensBehindTheFatalAlert) {
    startRunning();
    current().callbacks.onClickerDistributorStateChange({true, 2, true});
    EXPECT_TRUE(listening());
    current().callbacks.onUnexpectedExit(3);
    current().callbacks.onFatalProtocol(DesktopProtocolError::Kind::malformedEvent);
    ASSERT_EQ(view->alerts.size(), 1u);
    EXPECT_EQ(view->alerts[0].message, "The Kelvra Hub server stopped unexpectedly with code 3.");
    EXPECT_FALSE(listening());

    controller->applicationDidBecomeActive();
    EXPECT_FALSE(controller->clickerInputLifecycle().permissionGranted());
    current().callbacks.onClickerDistributorStateChange({true, 2, true});
    current().callbacks.onClickerListenerChange(true);
    EXPECT_FALSE(controller->clickerInputLifecycle().distributionRequired());

    controller->openRequested();
    EXPECT_TRUE(view->browserAnswers.empty());
    EXPECT_EQ(view->alertRaises, 1);
    EXPECT_EQ(controller->serverStatus(), ServerStatus::failed())
        << "no window offers a server that is gone";
    EXPECT_FALSE(view->urlActionsEnabled);
}

// Quitting at each stage: no alert, nothing launched after the quit, every child stopped
// before the shutdown completes.
TEST_F(StatusBarControllerTest, QuitAtEachStage) {
    struct Row {
        const char* stage;
        std::function<void()> before, after;
    };
    const Row rows[] = {
        {"start, then ready", [&] { start(); }, [&] { current().ready(firstURL); }},
        {"start, then failed", [&] { start(); }, [&] { current().fail(testing::startTimeout); }},
        {"apply stopping the old server",
         [&] {
             startRunning();
             current().stopsAtOnce = false;
             applyPort(4000);
             applyPort(5000);
         },
         [&] { current().finishStop(); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stage);
        supervisors.clear();
        startResults.clear();
        applyResults.clear();
        shutdowns = 0;
        view->alerts.clear();
        controller = makeController();
        row.before();
        shutdown();
        EXPECT_EQ(shutdowns, 0) << "what is in flight is waited for";
        EXPECT_FALSE(view->urlActionsEnabled);
        row.after();
        mainThread->runPending();
        for (const auto& result : startResults) {
            if (!result) {
                controller->showFatalError(result.error().description());
            }
        }
        EXPECT_EQ(shutdowns, 1);
        EXPECT_EQ(supervisors.size(), 1u);
        EXPECT_TRUE(std::ranges::all_of(supervisors, [](auto& s) { return s->stopped; }));
        EXPECT_TRUE(view->alerts.empty());
        EXPECT_FALSE(monitor->isRunning());
        EXPECT_TRUE(std::ranges::all_of(applyResults, [](auto& result) {
            return result || result.error() == ServerConfigurationError::appIsClosing();
        })) << "a failure while quitting is only logged";
    }
}

// An apply takes the backend from the menu, the keys, the listener and the windows until the new
// one runs; late reports of the replaced supervisor change nothing, and a page asked for
// meanwhile never opens.
TEST_F(StatusBarControllerTest, AnApplyReplacesTheBackendEverywhere) {
    startRunning();
    auto& model = controller->clickerModel();
    model.present();
    auto& first = current();
    first.callbacks.onClickerDistributorStateChange({true, 1, true});
    std::thread([&] { deliver(ClickerDirection::right); }).join();
    EXPECT_EQ(first.sent().size(), 1u);
    model.toggleTest();
    std::thread([&] { deliver(ClickerDirection::left); }).join();
    mainThread->runPending();
    EXPECT_TRUE(model.state().feedback.starts_with("Detected"))
        << "an input test shows keys in the window";
    model.toggleTest();

    first.stopsAtOnce = false;
    applyPort(4000);
    EXPECT_EQ(view->status.text, "Restarting Kelvra Hub…");
    EXPECT_FALSE(view->urlActionsEnabled);
    controller->openKelvra();
    EXPECT_EQ(model.state().testTitle, "Test Assigned Keys") << "the restart ended the input test";
    EXPECT_FALSE(listening());
    std::thread([&] { deliver(ClickerDirection::right); }).join();
    EXPECT_EQ(first.sent().size(), 1u) << "no backend takes keys during an apply";
    EXPECT_FALSE(model.state().switchUsable);

    first.finishStop();
    current().ready(secondURL);
    EXPECT_EQ(applyResults.at(0), (ServerSettingsApplied{{4000, {}}, secondURL, std::nullopt}));
    EXPECT_EQ(view->status.text, "Running on 127.0.0.1:4000");
    EXPECT_TRUE(view->browserAnswers.empty());
    std::thread([&] { deliver(ClickerDirection::right); }).join();
    EXPECT_EQ(current().sent().size(), 1u);
    first.callbacks.onUnexpectedExit(0);
    first.callbacks.onClickerListenerChange(true);
    EXPECT_TRUE(view->alerts.empty());
    EXPECT_FALSE(controller->clickerInputLifecycle().distributionRequired());
}

TEST_F(StatusBarControllerTest, CopyAndOpenFailuresNameTheAddress) {
    startRunning();
    view->clipboardWorks = false;
    controller->copyURL();
    controller->openKelvra();
    view->browserAnswers.at(0)(false);
    ASSERT_EQ(view->alerts.size(), 2u);
    EXPECT_EQ(view->alerts[0].informativeText, "Copy " + firstURL + " manually.");
    EXPECT_EQ(view->alerts[1].informativeText, "Open " + firstURL + " manually.");
    EXPECT_EQ(terminationRequests, 0);
}

/// Our child processes that have not ended.
int livingChildren() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, name, state;
        pid_t parent = 0;
        count += stat >> pid >> name >> state >> parent && parent == ::getpid() && state != "Z";
    }
    return count;
}

TEST_F(StatusBarControllerTest, RealBackendKeepsServingWhenTheNewPortIsTaken) {
    const int oldPort = testing::freePort();
    const auto taken = testing::bindSocket("0.0.0.0", true);
    HubServerConfiguration configuration{HubServerPort::from(oldPort).value(),
                                         HubNetworkSelection::localhost()};
    ASSERT_TRUE(HubServerConfigurationStore(settings).setConfiguration(configuration));
    controller = makeController(realFactory());
    start();
    ASSERT_TRUE(mainThread->runUntil([&] { return !startResults.empty(); }, 20s));
    ASSERT_TRUE(startResults[0].has_value()) << startResults[0].error().description();

    configuration.port = HubServerPort::from(taken.port).value();
    controller->applyServerSettings(configuration,
                                    [this](auto result) { applyResults.push_back(result); });
    ASSERT_TRUE(mainThread->runUntil([&] { return !applyResults.empty(); }, 30s));
    ASSERT_FALSE(applyResults[0].has_value());
    EXPECT_TRUE(applyResults[0].error().description().starts_with(
        "The requested address or port could not be used."));
    EXPECT_EQ(pageStatus("http://127.0.0.1:" + std::to_string(oldPort) + "/"), 200);
    EXPECT_EQ(HubServerConfigurationStore(settings).configuration().port.number(), oldPort);
    EXPECT_EQ(livingChildren(), 1);

    controller->shutdown([this] { ++shutdowns; });
    ASSERT_TRUE(mainThread->runUntil([&] { return shutdowns == 1; }, 20s));
    EXPECT_EQ(livingChildren(), 0);
}

constexpr const char* inNamespace = "KELVRA_TEST_IN_NETWORK_NAMESPACE";

void ip(const std::string& arguments) {
    ASSERT_EQ(std::system(("/usr/sbin/ip " + arguments).c_str()), 0) << arguments;
}

// The address of the chosen interface changes: the network monitor sees it and the server moves.
// Runs as its own process in a network namespace of its own (the test after it).
TEST_F(StatusBarControllerTest, InNamespaceNetworkChangeMovesTheServer) {
    if (!std::getenv(inNamespace)) {
        GTEST_SKIP() << "runs inside NetworkChangeMovesTheServer's namespace";
    }
    ip("link set lo up");
    ip("link add kh0 type veth peer name kh1");
    ip("addr add 10.77.0.1/24 dev kh0");
    ip("link set kh1 up");
    ip("link set kh0 up");
    ASSERT_FALSE(HasFatalFailure());
    // A veth pair reports carrier a moment after it is up; only then is it a service.
    const HubNetworkServiceProvider system(makeSystemNetworkServiceSource());
    ASSERT_TRUE(mainThread->runUntil([&] { return !system.availableServices().empty(); }, 10s));
    ASSERT_TRUE(HubServerConfigurationStore(settings).setConfiguration(
        {31999, HubNetworkSelection::service("kh0", "kh0")}));
    controller = makeController(realFactory(), makeSystemNetworkServiceSource(),
                                makeSystemNetworkChangeSource(mainThread));
    start();
    ASSERT_TRUE(mainThread->runUntil([&] { return !startResults.empty(); }, 20s));
    ASSERT_TRUE(startResults[0].has_value()) << startResults[0].error().description();
    EXPECT_TRUE(log->contains("[shell] Backend ready at http://10.77.0.1:31999/."));

    ip("addr add 10.78.0.1/24 dev kh0");
    ip("addr del 10.77.0.1/24 dev kh0");
    ASSERT_TRUE(mainThread->runInRealTimeUntil(
        [&] { return log->contains("[shell] Backend ready at http://10.78.0.1:31999/."); }, 30s))
        << ::testing::PrintToString(log->lines());
    EXPECT_EQ(pageStatus("http://10.78.0.1:31999/"), 200);
    controller->shutdown([this] { ++shutdowns; });
    ASSERT_TRUE(mainThread->runUntil([&] { return shutdowns == 1; }, 20s));
}

TEST_F(StatusBarControllerTest, NetworkChangeMovesTheServer) {
    if (std::getenv(inNamespace)) {
        GTEST_SKIP();
    }
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a network namespace needs root";
    }
    auto environment = currentEnvironment();
    environment[inNamespace] = "1";
    const auto result =
        testing::runProcess("/usr/bin/unshare",
                            {"--net", std::filesystem::read_symlink("/proc/self/exe").string(),
                             "--gtest_filter=*InNamespaceNetworkChangeMovesTheServer"},
                            environment);
    EXPECT_EQ(result.exitStatus, 0) << result.standardOutput << result.standardError;
}

}  // namespace
}  // namespace kelvra
