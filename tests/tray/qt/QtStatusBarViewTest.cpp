// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include "core/SettingsStore.h"
#include "shell/login_item/FakeLoginItemService.h"
#include "support/ManualMainThreadExecutor.h"
#include "tray/StatusBarFakes.h"
#include "tray/qt/QtStatusBarView.h"

namespace kelvra {
namespace {

// The menu's key equivalents, Ctrl+, and Ctrl+Q, work in whichever of our windows is in front.
TEST(QtStatusBarViewTest, TheMenusShortcutsWorkInEveryWindow) {
    auto settings = std::make_shared<InMemorySettingsStore>();
    QtStatusBarView view({
        .mainThread = std::make_shared<ManualMainThreadExecutor>(),
        .versionInfo = AppVersionInfo(InfoDictionary{}),
        .loginItems = std::make_shared<testing::FakeLoginItemService>(),
        .networkServiceProvider = std::make_shared<HubNetworkServiceProvider>(
            std::make_shared<testing::FakeNetworkServices>()),
        .permissionProvider = std::make_shared<testing::FakePermissionProvider>(),
        .requestTermination = [] {},
    });
    QSignalSpy settingsAsked(&view.tray(), &TrayIcon::settingsRequested);
    QSignalSpy quitAsked(&view.tray(), &TrayIcon::quitRequested);
    const std::function<void()> windows[] = {
        [&] { view.presentWelcomeWindow(); },
        [&] { view.showSettingsWindow({}); },
        [&] { view.showClickerWindow({}); },
        [&] { view.showAboutWindow(); },
    };
    for (const auto& show : windows) {
        show();
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

}  // namespace
}  // namespace kelvra
