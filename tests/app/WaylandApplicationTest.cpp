// SPDX-License-Identifier: MIT
// The built application in a Wayland session without any tray: a headless Weston of its own
// (tests/app/weston-run.sh, started with its debug protocol so that `weston-debug` can list the
// windows) inside a private D-Bus session, where no StatusNotifierWatcher runs. The browser is a
// stand-in `xdg-open` that records what it was asked to open.
#include <gtest/gtest.h>

#include "support/LaunchedApplication.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;
using testing::eventually;

TEST(WaylandApplicationTest, WithoutATrayASecondLaunchPresentsTheWelcomeWindowAndOpensThePage) {
    testing::LaunchedApplication app;
    for (const char* name : {"WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"}) {
        if (std::getenv(name) == nullptr) {
            GTEST_SKIP() << "run inside dbus-run-session and tests/app/weston-run.sh";
        }
        app.environment[name] = std::getenv(name);
    }
    app.environment["QT_QPA_PLATFORM"] = "wayland";
    // The window must come from the second launch, not from the first start.
    app.writeSettings(R"("showWelcomeWindowAtStartup": false)");
    const auto welcomeShown = [&] {
        return testing::runProcess("/usr/bin/weston-debug", {"scene-graph"}, app.environment)
                   .standardOutput.find("top-level window 'Kelvra Hub'") != std::string::npos;
    };

    auto first = app.launch();
    ASSERT_TRUE(eventually([&] { return !app.readyURL().empty(); }, 30s)) << app.log();
    const pid_t backend = app.backendPid();
    EXPECT_FALSE(welcomeShown());

    // Launched as a desktop launcher would on Wayland, with a token to take the focus.
    app.environment["XDG_ACTIVATION_TOKEN"] = "launcher-token-1";
    const auto result = app.run();
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(eventually(welcomeShown, 20s)) << "not presented";
    EXPECT_TRUE(eventually([&] { return app.opened() == app.readyURL() + "\n"; }, 20s));

    first->kill(SIGTERM);
    app.expectCleanExit(*first, backend, 10s);
    EXPECT_NE(app.log().find("Backend exited with code 0."), std::string::npos) << app.log();
}

}  // namespace
}  // namespace kelvra
