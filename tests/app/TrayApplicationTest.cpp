// SPDX-License-Identifier: MIT
// The built application as a user meets it: on an X server with an XEmbed tray (trayer), its
// menu chosen with the pointer and keys (xdotool), the browser a stand-in `xdg-open` that records
// what it was asked to open. The StatusNotifierItem panel tests (panel/) use every menu entry;
// these, the XEmbed fallback. Run under `xvfb-run -a`; skipped without a display.
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <sstream>
#include <xcb/xcb.h>

#include <QColor>
#include <QImage>

#include "core/HttpClient.h"
#include "support/LaunchedApplication.h"
#include "support/PortalStandIn.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::eventually;

const std::string kReady = "[shell] Backend ready at ";

// The contrast ratio of two colours, as accessibility guidelines define it (1 to 21).
double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& color) {
        const auto linear = [](double channel) {
            return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) +
               0.0722 * linear(color.blueF());
    };
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

struct WindowGeometry {
    std::string id;
    int x = 0, y = 0, width = 0, height = 0;
};

// The mean luma (0 to 1) of what `screen` shows of `window`.
double meanLuma(const QImage& screen, const WindowGeometry& window) {
    double sum = 0;
    int pixels = 0;
    for (int y = std::max(window.y, 0); y < std::min(window.y + window.height, screen.height());
         ++y) {
        for (int x = std::max(window.x, 0); x < std::min(window.x + window.width, screen.width());
             ++x, ++pixels) {
            sum += qGray(screen.pixel(x, y)) / 255.0;
        }
    }
    return pixels > 0 ? sum / pixels : -1;
}

class TrayApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0') {
            GTEST_SKIP() << "needs an X server: run under xvfb-run -a";
        }
        display_ = display;
        // The X server resets when its last client leaves; a connection of ours keeps it up.
        connection_ = xcb_connect(display, nullptr);
        app_.environment["DISPLAY"] = display;
        if (const char* authority = std::getenv("XAUTHORITY")) {
            app_.environment["XAUTHORITY"] = authority;
        }
        // The welcome window would take the focus the menu tests rely on.
        app_.writeSettings(R"("showWelcomeWindowAtStartup": false)");
        startTray();
    }

    /// The application launched, its server ready and its icon in the tray; fails the test
    /// (and leaves the process to the caller) otherwise.
    std::unique_ptr<testing::SpawnedProcess> launchDocked() {
        auto app = app_.launch();
        EXPECT_TRUE(app_.waitForLog(kReady, 20s)) << app_.log();
        EXPECT_TRUE(eventually([&] { return trayIcon().has_value(); }, 20s))
            << "no icon in the tray";
        return app;
    }

    /// Ends `app` with SIGTERM and checks that it went cleanly.
    void terminate(testing::SpawnedProcess& app) {
        const pid_t backend = app_.backendPid();
        app.kill(SIGTERM);
        app_.expectCleanExit(app, backend, 6s);
    }

    testing::ProcessResult tool(const std::string& program, std::vector<std::string> arguments) {
        return testing::runProcess(fs::path("/usr/bin") / program, arguments, app_.environment);
    }

    /// Visible windows of the application, with their geometry.
    std::vector<WindowGeometry> visibleWindows() {
        std::vector<WindowGeometry> windows;
        std::istringstream ids(
            tool("xdotool", {"search", "--onlyvisible", "--classname", "^kelvra-hub$"})
                .standardOutput);
        for (std::string id; std::getline(ids, id);) {
            WindowGeometry window{.id = id};
            std::sscanf(
                tool("xdotool", {"getwindowgeometry", "--shell", id}).standardOutput.c_str(),
                "WINDOW=%*d X=%d Y=%d WIDTH=%d HEIGHT=%d", &window.x, &window.y, &window.width,
                &window.height);
            windows.push_back(window);
        }
        return windows;
    }

    /// The icon docked in the tray: the application's small window.
    std::optional<WindowGeometry> trayIcon() {
        for (const auto& window : visibleWindows()) {
            if (window.width <= 48 && window.height <= 48 && window.x > 0) {
                return window;
            }
        }
        return std::nullopt;
    }

    /// The application's visible window titled `title`.
    std::optional<WindowGeometry> windowTitled(const std::string& title) {
        for (const auto& window : visibleWindows()) {
            if (window.width > 200 &&
                tool("xdotool", {"getwindowname", window.id}).standardOutput == title + "\n") {
                return window;
            }
        }
        return std::nullopt;
    }

    /// The alert: the application's titled window named "Kelvra Hub".
    std::optional<WindowGeometry> alert() { return windowTitled("Kelvra Hub"); }

    /// Clicks the tray icon and chooses a menu item with the keys that reach it.
    void chooseFromMenu(const std::vector<std::string>& keys) {
        const auto icon = trayIcon();
        ASSERT_TRUE(icon);
        const auto menuShown = [&] { return visibleWindows().size() > 1; };
        ASSERT_TRUE(eventually([&] { return !menuShown(); }, 10s)) << "a window is in the way";
        // A click that lands while the menu before is still closing is lost; click again then.
        bool shown = false;
        for (int attempt = 0; attempt < 3 && !shown; ++attempt) {
            tool("xdotool", {"mousemove", std::to_string(icon->x + icon->width / 2),
                             std::to_string(icon->y + icon->height / 2), "click", "1"});
            shown = eventually(menuShown, 3s);
        }
        ASSERT_TRUE(shown) << "no menu";
        for (const auto& key : keys) {
            tool("xdotool", {"key", key});
        }
    }

    /// What the screen shows.
    QImage screenshot() {
        xcb_connection_t* connection = xcb_connect(display_.c_str(), nullptr);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        auto* reply = xcb_get_image_reply(
            connection,
            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, 0, 0,
                          screen->width_in_pixels, screen->height_in_pixels, ~0u),
            nullptr);
        QImage image;
        if (reply != nullptr && screen->root_depth == 24) {
            image = QImage(xcb_get_image_data(reply), screen->width_in_pixels,
                           screen->height_in_pixels, QImage::Format_RGB32)
                        .copy();
        }
        std::free(reply);
        xcb_disconnect(connection);
        return image;
    }

    /// Saves what the screen shows, or the part of it in `region`, for a person to look at.
    void saveScreenshot(const std::string& name, const QRect& region = {}) {
        const fs::path directory = fs::path(KELVRA_TEST_SCREENSHOT_DIR);
        fs::create_directories(directory);
        const QImage screen = screenshot();
        (region.isNull() ? screen : screen.copy(region))
            .save(QString::fromStdString((directory / (name + ".png")).string()));
    }

    /// Starts an XEmbed tray across the top right of the screen, its background `panel`.
    void startTray(const std::string& panel = {}) {
        tray_.reset();
        std::vector<std::string> arguments{"--edge",      "top",     "--align",  "right",
                                           "--widthtype", "request", "--height", "24"};
        if (!panel.empty()) {
            arguments.insert(arguments.end(),
                             {"--transparent", "true", "--alpha", "0", "--tint", panel});
        }
        tray_ = std::make_unique<testing::SpawnedProcess>("/usr/bin/trayer", arguments,
                                                          app_.environment);
    }

    void TearDown() override {
        if (connection_ != nullptr) {
            xcb_disconnect(connection_);
        }
    }

    testing::LaunchedApplication app_;
    xcb_connection_t* connection_ = nullptr;
    std::string display_;
    std::unique_ptr<testing::SpawnedProcess> tray_;
};

TEST_F(TrayApplicationTest, LaunchDocksTheIconServesThePageAndASecondLaunchOpensIt) {
    auto app = launchDocked();

    HttpRequest request;
    request.url = app_.readyURL();
    request.timeout = 10s;
    const auto page = httpGet(request);
    ASSERT_TRUE(page) << page.error().reason;
    EXPECT_EQ(page->statusCode, 200);
    EXPECT_NE(page->body.find("Kelvra Hub"), std::string::npos);

    const auto second = app_.run();
    EXPECT_EQ(second.exitStatus, 0) << second.standardError;
    EXPECT_TRUE(eventually([&] { return app_.opened() == app_.readyURL() + "\n"; }, 10s));
    EXPECT_FALSE(app->wait(0ms));

    // SIGTERM stops the backend gracefully, without asking.
    terminate(*app);
    EXPECT_TRUE(app_.waitForLog("(shutdown command)", 0ms)) << app_.log();
    EXPECT_FALSE(alert().has_value());
}

TEST_F(TrayApplicationTest, TheIconStandsOutOnDarkAndLightPanels) {
    for (const char* panel : {"0x202020", "0xf0f0f0"}) {
        SCOPED_TRACE(panel);
        startTray(panel);
        auto app = app_.launch();
        ASSERT_TRUE(eventually([&] { return trayIcon().has_value(); }, 20s)) << "no icon";
        // The panel's own colour beside the icon, and the icon's 10th most distinct pixel.
        const auto iconContrast = [&] {
            const auto icon = trayIcon();
            const QImage screen = screenshot();
            if (!icon || screen.isNull() || icon->x < 1) {
                return 0.0;
            }
            const QColor background = screen.pixelColor(icon->x - 1, icon->y + icon->height / 2);
            if (std::abs(background.lightness() - QColor(QString("#") + (panel + 2)).lightness()) >
                8) {
                return 0.0;  // not the panel beside the icon
            }
            std::vector<double> ratios;
            for (int y = icon->y; y < icon->y + icon->height; ++y) {
                for (int x = icon->x; x < icon->x + icon->width; ++x) {
                    ratios.push_back(contrast(screen.pixelColor(x, y), background));
                }
            }
            std::ranges::sort(ratios, std::greater());
            return ratios.size() > 10 ? ratios[9] : 0.0;
        };
        double measured = 0;
        EXPECT_TRUE(eventually([&] { return (measured = iconContrast()) >= 3; }, 10s)) << measured;
        saveScreenshot(std::string("tray-icon-") + panel);
        terminate(*app);
    }
}

TEST_F(TrayApplicationTest, TheMenuOpensThePageAndQuitsOnlyWhenConfirmed) {
    auto app = launchDocked();
    const std::string url = app_.readyURL();

    // The first usable item: "Open Control Page".
    chooseFromMenu({"Down", "Return"});
    EXPECT_TRUE(eventually([&] { return app_.opened() == url + "\n"; }, 10s)) << app_.log();

    // "Quit Kelvra Hub", the last item; Escape cancels the confirmation.
    chooseFromMenu({"Up"});
    tool("xdotool", {"key", "Return"});
    ASSERT_TRUE(eventually([&] { return alert().has_value(); }, 10s)) << "no confirmation";
    tool("xdotool", {"key", "Escape"});
    ASSERT_TRUE(eventually([&] { return !alert().has_value(); }, 10s));
    EXPECT_FALSE(app->wait(0ms));
    EXPECT_EQ(app_.log().find("shutdown"), std::string::npos);

    // Confirmed, it stops the backend and ends.
    const pid_t backend = app_.backendPid();
    chooseFromMenu({"Up", "Return"});
    ASSERT_TRUE(eventually([&] { return alert().has_value(); }, 10s)) << "no confirmation";
    tool("xdotool", {"key", "Return"});
    app_.expectCleanExit(*app, backend, 6s);
}

TEST_F(TrayApplicationTest, ABackendThatDiesEndsInTheUnexpectedStopAlert) {
    auto app = app_.launch();
    ASSERT_TRUE(app_.waitForLog(kReady, 20s)) << app_.log();
    const pid_t backend = app_.backendPid();
    ::kill(backend, SIGKILL);
    ASSERT_TRUE(eventually([&] { return alert().has_value(); }, 10s)) << app_.log();
    saveScreenshot("unexpected-stop-alert");
    EXPECT_FALSE(app->wait(0ms));

    // A second launch behind the alert opens no page of the server that is gone.
    const auto second = app_.run();
    EXPECT_EQ(second.exitStatus, 0) << second.standardError;
    EXPECT_TRUE(app_.waitForLog("A second launch asked for the control page while", 10s))
        << app_.log();
    EXPECT_TRUE(app_.opened().empty());
    EXPECT_TRUE(alert().has_value());
    tool("xdotool", {"key", "Return"});
    app_.expectCleanExit(*app, backend, 6s);
}

// The README's pictures of the menu, in the desktop's light and dark choice.
TEST_F(TrayApplicationTest, ScreenshotsOfTheMenuInTheLightAndTheDarkPalette) {
    testing::PortalStandIn portal({"2"});
    app_.environment["DBUS_SESSION_BUS_ADDRESS"] = portal.address();
    auto app = launchDocked();
    chooseFromMenu({"Up"});
    for (const auto& [scheme, name] : {std::pair{"2", "light"}, std::pair{"1", "dark"}}) {
        portal.set(scheme);
        // The menu, the application's tallest window, and the icon above it.
        QRect shown;
        ASSERT_TRUE(eventually(
            [&] {
                const auto windows = visibleWindows();
                const auto menu = std::ranges::max_element(windows, {}, &WindowGeometry::height);
                const auto icon = trayIcon();
                if (menu == windows.end() || !icon ||
                    (meanLuma(screenshot(), *menu) < 0.5) != (name == std::string("dark"))) {
                    return false;
                }
                shown = QRect(menu->x, menu->y, menu->width, menu->height)
                            .united(QRect(icon->x, icon->y, icon->width, icon->height))
                            .adjusted(-4, 0, 4, 4);
                return true;
            },
            10s))
            << name;
        saveScreenshot(std::string("tray-menu-") + name, shown);
    }
    terminate(*app);
}

TEST_F(TrayApplicationTest, WithoutATrayTheWelcomeWindowStandsInUntilOneComes) {
    tray_.reset();
    app_.environment["KELVRA_HUB_TRAY_WAIT_SECONDS"] = "2";
    auto app = app_.launch();
    ASSERT_TRUE(app_.waitForLog(kReady, 20s)) << app_.log();
    ASSERT_TRUE(eventually([&] { return alert().has_value(); }, 20s)) << "no welcome window";
    EXPECT_FALSE(trayIcon().has_value());

    // A second launch opens the page, and the welcome window is the way to the menu.
    const auto window = alert();
    tool("xdotool", {"windowunmap", "--sync", window->id});
    const auto second = app_.run();
    EXPECT_EQ(second.exitStatus, 0) << second.standardError;
    EXPECT_TRUE(eventually([&] { return !app_.opened().empty(); }, 10s));
    EXPECT_TRUE(eventually([&] { return alert().has_value(); }, 10s)) << "not presented again";

    // A tray that comes long after the wait still gets the icon, and a restarted one again.
    for (const char* tray : {"late", "restarted"}) {
        tray_.reset();
        ASSERT_TRUE(eventually([&] { return !trayIcon().has_value(); }, 10s)) << tray;
        startTray();
        EXPECT_TRUE(eventually([&] { return trayIcon().has_value(); }, 20s)) << tray;
    }
    terminate(*app);
}

TEST_F(TrayApplicationTest, WindowsFollowTheDesktopsLightOrDarkChoiceUnlessTheThemeHasAPalette) {
    // A desktop whose settings portal prefers dark, then a KDE session, whose platform theme
    // supplies a palette (KDE's default light one here).
    for (const bool kde : {false, true}) {
        SCOPED_TRACE(kde ? "KDE" : "portal");
        testing::PortalStandIn portal({"1"});
        app_.environment["DBUS_SESSION_BUS_ADDRESS"] = portal.address();
        if (kde) {
            app_.environment["XDG_CURRENT_DESKTOP"] = "KDE";
            app_.environment["KDE_SESSION_VERSION"] = "5";
        }
        auto app = launchDocked();
        chooseFromMenu({"Down", "Down", "Down", "Return"});
        double luma = -1;
        const auto settingsShows = [&](auto wanted) {
            return eventually(
                [&] {
                    const auto window = windowTitled("Kelvra Hub Settings");
                    return window && wanted(luma = meanLuma(screenshot(), *window));
                },
                10s);
        };
        const auto dark = [](double value) { return value < 0.3; };
        const auto light = [](double value) { return value > 0.7; };
        if (kde) {
            EXPECT_TRUE(settingsShows(light)) << luma;
        } else {
            EXPECT_TRUE(settingsShows(dark)) << luma;
            portal.set("2");
            EXPECT_TRUE(settingsShows(light)) << luma;
            portal.set("1");
            EXPECT_TRUE(settingsShows(dark)) << luma;
        }
        terminate(*app);
    }
}

// With distribution on, the assigned Next key reaches the backend whatever the terminal sends,
// and moving through the Clicker Distributor window with Tab and Shift+Tab records nothing: no
// other key reaches the backend and the assigned keys stay as they were.
TEST_F(TrayApplicationTest, WithDistributionOnOnlyTheAssignedKeyReachesTheBackend) {
    // The backend keeps its switch in its state file: start with distribution on, and listen
    // through the X11 tap, which needs no device access.
    testing::writeFile(app_.home() / ".local/state/Morvane/Kelvra Hub/server-state.json",
                       R"({"version": 1, "clickerDistributorEnabled": true,
                           "groups": {"stage-left": true}})");
    app_.environment["KELVRA_HUB_KEYBOARD_TAP"] = "x11";
    auto app = launchDocked();
    ASSERT_TRUE(
        app_.waitForLog("Clicker Distributor assigned-key consuming listener is active.", 20s))
        << app_.log();
    // Ctrl+Z in its terminal, or a read or write from the background, must not stop the
    // process that holds the keys.
    for (const int stop : {SIGTSTP, SIGTTIN, SIGTTOU}) {
        app->kill(stop);
    }

    chooseFromMenu({"Down", "Down", "Down", "Down", "Return"});
    const auto window = [&] { return windowTitled("Clicker Distributor"); };
    ASSERT_TRUE(eventually([&] { return window().has_value(); }, 10s)) << "no window";
    tool("xdotool", {"windowactivate", "--sync", window()->id});
    for (const char* key : {"Tab", "shift+Tab"}) {
        for (int press = 0; press < 20; ++press) {
            tool("xdotool", {"key", "--delay", "20", key});
        }
    }
    // The window's controls took every press: still open, nothing recorded, nothing sent.
    EXPECT_TRUE(window().has_value());
    const std::string settings =
        testing::readFile(app_.home() / ".config/Morvane/Kelvra Hub/settings.json");
    EXPECT_EQ(settings.find("Keystroke"), std::string::npos) << settings;

    // The listener holds the assigned Next key (the grabs follow its start: press until the first
    // gets through), and only those presses arrive.
    int nextPresses = 0;
    EXPECT_TRUE(eventually(
        [&] {
            tool("xdotool", {"key", "Next"});
            ++nextPresses;
            return app_.waitForLog("Received clicker-key right", 500ms);
        },
        20s))
        << app_.log();
    const std::string log = app_.log();
    int received = 0;
    for (auto at = log.find("Received clicker-key"); at != std::string::npos;
         at = log.find("Received clicker-key", at + 1)) {
        EXPECT_EQ(log.compare(at, 26, "Received clicker-key right"), 0) << log.substr(at, 60);
        ++received;
    }
    EXPECT_LE(received, nextPresses) << log;
    terminate(*app);
}

}  // namespace
}  // namespace kelvra
