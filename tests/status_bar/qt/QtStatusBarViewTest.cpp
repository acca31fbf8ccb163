// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include "core/SettingsStore.h"
#include "shell/login_item/FakeLoginItemService.h"
#include "status_bar/StatusBarFakes.h"
#include "status_bar/qt/QtStatusBarView.h"
#include "support/ManualMainThreadExecutor.h"

namespace kelvra {
namespace {

class QtStatusBarViewTest : public ::testing::Test {
protected:
    QtStatusBarViewTest() {
        auto settings = std::make_shared<InMemorySettingsStore>();
        view_ = std::make_unique<QtStatusBarView>(QtStatusBarView::Parts{
            .mainThread = std::make_shared<ManualMainThreadExecutor>(),
            .versionInfo = AppVersionInfo(InfoDictionary{}),
            .welcomePreference = std::make_shared<WelcomeWindowPreference>(settings),
            .launchAtLoginPreference = std::make_shared<LaunchAtLoginPreference>(
                std::make_unique<testing::FakeLoginItemService>(), settings),
            .loginItems = std::make_shared<testing::FakeLoginItemService>(),
            .serverConfigurationStore = std::make_shared<HubServerConfigurationStore>(settings),
            .networkServiceProvider = std::make_shared<HubNetworkServiceProvider>(
                std::make_shared<testing::FakeNetworkServices>()),
            .clickerConfigurationStore = std::make_shared<ClickerInputConfigurationStore>(settings),
            .permissionProvider = std::make_shared<testing::FakePermissionProvider>(),
            .requestTermination = [] {},
            .trayHostPresent = [] { return false; },
        });
    }

    std::unique_ptr<QtStatusBarView> view_;
};

// The menu's key equivalents, Ctrl+, and Ctrl+Q, work in whichever of our windows is in front.
TEST_F(QtStatusBarViewTest, TheMenusShortcutsWorkInEveryWindow) {
    const struct {
        const char* window;
        std::function<void()> show;
    } rows[] = {
        {"welcome", [&] { view_->presentWelcomeWindow(); }},
        {"settings", [&] { view_->showSettingsWindow(std::nullopt); }},
        {"Clicker Distributor", [&] { view_->showClickerWindow({}); }},
        {"About", [&] { view_->showAboutWindow(); }},
    };
    QSignalSpy settings(&view_->tray(), &TrayIcon::settingsRequested);
    QSignalSpy quit(&view_->tray(), &TrayIcon::quitRequested);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.window);
        row.show();
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeWindow() != nullptr; }));
        QWidget* window = QApplication::activeWindow();
        const auto before = settings.count();
        QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
        QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
        EXPECT_EQ(settings.count(), before + 1);
        EXPECT_EQ(quit.count(), settings.count());
        window->hide();
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeWindow() == nullptr; }));
    }
}

}  // namespace
}  // namespace kelvra
