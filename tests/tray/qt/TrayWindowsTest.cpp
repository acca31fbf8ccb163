// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "WidgetTestSupport.h"
#include "app/QtMainThreadExecutor.h"
#include "backend/BackendSupervisor.h"
#include "core/SettingsStore.h"
#include "support/BoundSocket.h"
#include "support/RecordingLog.h"
#include "tray/StatusBarController.h"
#include "tray/StatusBarFakes.h"
#include "tray/qt/QtStatusBarView.h"
#include "tray/qt/TrayWindows.h"
#include "windows/SettingsWindow.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;

using testing::spokenName;

/// The windows over a real controller, wired as the application wires them.
class TrayWindowsTest : public ::testing::Test {
protected:
    ~TrayWindowsTest() override { mainThread->end(); }

    /// `backend` names a server in tests/backend/fixtures; none starts without one.
    void make(const std::string& backend = {}) {
        const auto fixtures =
            std::filesystem::path(KELVRA_TEST_SOURCE_DIR) / "tests/backend/fixtures";
        controller = StatusBarController::create({
            .mainThread = mainThread,
            .log = log,
            .logPath = {},
            .view = view,
            .requestTermination = [] {},
            .makeSupervisor = makeBackendSupervisorFactory(
                {KELVRA_TEST_NODE, fixtures / backend, fixtures}, log, mainThread, mainThread),
            .updateChecker = nullptr,
            .settings = settings,
            .networkServiceProvider = networkServices,
            .networkServiceMonitor = HubNetworkServiceMonitor::create(
                mainThread, std::make_shared<testing::IdleNetworkChangeSource>()),
            .makeClickerMonitor =
                [](auto, auto) { return std::make_shared<testing::FakeClickerMonitor>(); },
            .clickerPermissionProvider = std::make_shared<testing::FakePermissionProvider>(),
        });
        windows = std::make_unique<TrayWindows>(TrayWindows::Dependencies{
            .mainThread = mainThread,
            .versionInfo = AppVersionInfo(InfoDictionary{}),
            .loginItems = loginItems,
            .networkServiceProvider = networkServices,
            .settings = settings,
            .controller = controller,
            .tray = &view->tray(),
        });
    }

    std::shared_ptr<QtMainThreadExecutor> mainThread = std::make_shared<QtMainThreadExecutor>();
    std::shared_ptr<InMemorySettingsStore> store = std::make_shared<InMemorySettingsStore>();
    std::shared_ptr<testing::FakeLoginItemService> loginItems =
        std::make_shared<testing::FakeLoginItemService>();
    std::shared_ptr<SettingsService> settings = testing::settingsIn(store, loginItems);
    std::shared_ptr<HubNetworkServiceProvider> networkServices =
        std::make_shared<HubNetworkServiceProvider>(
            std::make_shared<testing::FakeNetworkServices>());
    std::shared_ptr<testing::RecordingLog> log = std::make_shared<testing::RecordingLog>();
    std::shared_ptr<QtStatusBarView> view = std::make_shared<QtStatusBarView>(mainThread);
    std::shared_ptr<StatusBarController> controller;
    std::unique_ptr<TrayWindows> windows;
};

// The menu's key equivalents, Ctrl+, and Ctrl+Q, work in whichever of our windows is in front.
TEST_F(TrayWindowsTest, TheMenusShortcutsWorkInEveryWindow) {
    make();
    QSignalSpy settingsAsked(&view->tray(), &TrayIcon::settingsRequested);
    QSignalSpy quitAsked(&view->tray(), &TrayIcon::quitRequested);
    for (const auto show : {&TrayWindows::showWelcome, &TrayWindows::showSettings,
                            &TrayWindows::showClickerDistributor, &TrayWindows::showAbout}) {
        (windows.get()->*show)();
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeWindow() != nullptr; }));
        QWidget* window = QApplication::activeWindow();
        SCOPED_TRACE(window->windowTitle().toStdString());
        const auto before = settingsAsked.count();
        QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
        QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
        EXPECT_EQ(settingsAsked.count(), before + 1);
        EXPECT_EQ(quitAsked.count(), settingsAsked.count());
        window->hide();
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeWindow() == nullptr; }));
    }
}

// A new port against a real server that takes two seconds to start: from Apply until the new
// server is ready the status row, polled as a screen reader polls it, says the settings are being
// applied, whatever the server does meanwhile; then where it runs now.
TEST_F(TrayWindowsTest, TheSettingsWindowShowsAnApplyUntilTheNewServerIsReady) {
    const int firstPort = testing::freePort();
    const int secondPort = testing::freePort();
    ASSERT_TRUE(settings->storeServerConfiguration(
        {HubServerPort::from(firstPort).value(), HubNetworkSelection::localhost()}));
    ASSERT_TRUE(settings->setShowWelcomeWindow(false));
    make("slow-ready.js");
    controller->start([](auto) {});
    windows->showSettings();
    auto* status = windows->settingsWindow()->findChild<QWidget*>("serverStatusLabel");
    const auto runningOn = [](int port) { return "Running on 127.0.0.1:" + QString::number(port); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return spokenName(status) == runningOn(firstPort); }, 20000))
        << spokenName(status).toStdString();

    auto* port = windows->settingsWindow()->findChild<QLineEdit*>("portField");
    port->selectAll();
    QTest::keyClicks(port, QString::number(secondPort));
    QTest::keyClick(port, Qt::Key_Return);
    const auto applied = std::chrono::steady_clock::now();
    QStringList heard{spokenName(status)};
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            if (const QString now = spokenName(status); now != heard.back()) {
                heard << now;
            }
            return heard.back() == runningOn(secondPort);
        },
        30000))
        << heard.join(" | ").toStdString();
    EXPECT_EQ(heard.join(" | ").toStdString(),
              ("Applying server settings… | " + runningOn(secondPort)).toStdString());
    EXPECT_GE(std::chrono::steady_clock::now() - applied, 2s) << "the server took its time";

    bool stopped = false;
    controller->shutdown([&] { stopped = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return stopped; }, 20000));
}

}  // namespace
}  // namespace kelvra
