// SPDX-License-Identifier: MIT
// The built application as a user meets it: on an X server with an XEmbed tray (trayer), its
// menu chosen with the pointer and keys (xdotool), the clipboard read by another client (xclip),
// the browser a stand-in `xdg-open` that records what it was asked to open. Run under
// `xvfb-run -a`; skipped without a display.
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <xcb/xcb.h>

#include <QImage>

#include "core/HttpClient.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const fs::path kExecutable = fs::path(KELVRA_TEST_BUNDLE_DIR) / "bin" / "kelvra-hub";

/// Polls `condition` until it holds; false when `limit` passed first.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

/// A process that runs beside the test with its output in a file; killed at destruction.
class Launched {
public:
    Launched(const fs::path& program, std::vector<std::string> arguments,
             const std::map<std::string, std::string>& environment, const fs::path& output) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        arguments.insert(arguments.begin(), program.string());
        auto argv = testing::execArray(arguments);
        auto entries = testing::environmentTexts(environment);
        auto envp = testing::execArray(entries);
        const int error =
            posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            throw std::runtime_error("cannot start " + program.string());
        }
    }
    ~Launched() {
        if (!status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Launched(const Launched&) = delete;
    Launched& operator=(const Launched&) = delete;

    pid_t pid() const { return pid_; }

    /// The exit status (or 128 + signal) once it has ended within `limit`.
    std::optional<int> wait(std::chrono::milliseconds limit) {
        waitFor(
            [&] {
                int status = 0;
                if (!status_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
                    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                }
                return status_.has_value();
            },
            limit);
        return status_;
    }

    bool isRunning() { return !wait(0ms).has_value(); }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

struct WindowGeometry {
    std::string id;
    int x = 0, y = 0, width = 0, height = 0;
};

class TrayApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0') {
            GTEST_SKIP() << "needs an X server: run under xvfb-run -a";
        }
        display_ = display;
        if (const char* authority = std::getenv("XAUTHORITY")) {
            authority_ = authority;
        }
        // The X server resets when its last client leaves; a connection of ours keeps it up.
        connection_ = xcb_connect(display_.c_str(), nullptr);
        fs::create_directories(home());
        fs::create_directories(runtime());
        fs::permissions(runtime(), fs::perms::owner_all);
        fs::create_directories(bin());
        testing::writeFile(bin() / "xdg-open",
                           "#!/bin/sh\necho \"$1\" >> '" + openedRecord().string() + "'\n");
        fs::permissions(bin() / "xdg-open", fs::perms::owner_all);
        // The welcome window would take the focus the menu tests rely on.
        testing::writeFile(settingsFile(), R"({"showWelcomeWindowAtStartup": false})");
        tray_ = std::make_unique<Launched>(
            "/usr/bin/trayer",
            std::vector<std::string>{"--edge", "top", "--align", "right", "--widthtype", "request",
                                     "--height", "24"},
            environment(), directory_.path() / "trayer.out");
    }

    fs::path home() const { return directory_.path() / "home"; }
    fs::path settingsFile() const { return home() / ".config/Morvane/Kelvra Hub/settings.json"; }
    fs::path runtime() const { return directory_.path() / "runtime"; }
    fs::path bin() const { return directory_.path() / "bin"; }
    fs::path openedRecord() const { return directory_.path() / "opened"; }
    fs::path logFile() const { return home() / ".local/state/Morvane/Kelvra Hub/kelvra-hub.log"; }

    std::map<std::string, std::string> environment() const {
        auto variables = extraEnvironment_;
        variables.insert({{"HOME", home().string()},
                          {"XDG_RUNTIME_DIR", runtime().string()},
                          {"PATH", bin().string() + ":/usr/bin:/bin"},
                          {"DISPLAY", display_},
                          {"XAUTHORITY", authority_}});
        return variables;
    }

    std::unique_ptr<Launched> launch() {
        return std::make_unique<Launched>(kExecutable, std::vector<std::string>{}, environment(),
                                          directory_.path() / "app.out");
    }

    std::string log() const { return fs::exists(logFile()) ? testing::readFile(logFile()) : ""; }

    /// The log and what the application printed, for a failure's message.
    std::string diagnostics() const {
        const fs::path output = directory_.path() / "app.out";
        return log() + (fs::exists(output) ? testing::readFile(output) : "");
    }

    bool waitForLog(const std::string& text, std::chrono::milliseconds limit = 20s) const {
        return waitFor([&] { return log().find(text) != std::string::npos; }, limit);
    }

    /// The address in "Backend ready at <url>." once it is logged.
    std::string readyURL() const {
        const std::string marker = "[shell] Backend ready at ";
        const std::string text = log();
        const auto start = text.find(marker);
        if (start == std::string::npos) {
            return {};
        }
        const auto end = text.find(".\n", start);
        return text.substr(start + marker.size(), end - start - marker.size());
    }

    pid_t backendPid() const {
        const std::string marker = "[shell] Started backend PID ";
        const std::string text = log();
        const auto start = text.find(marker);
        return start == std::string::npos ? -1 : std::stoi(text.substr(start + marker.size()));
    }

    testing::ProcessResult tool(const std::string& program, std::vector<std::string> arguments) {
        return testing::runProcess(fs::path("/usr/bin") / program, arguments, environment());
    }

    /// Visible windows of the application, with their geometry.
    std::vector<WindowGeometry> visibleWindows() {
        std::vector<WindowGeometry> windows;
        std::istringstream ids(
            tool("xdotool", {"search", "--onlyvisible", "--classname", "^kelvra-hub$"})
                .standardOutput);
        for (std::string id; std::getline(ids, id);) {
            std::istringstream shell(
                tool("xdotool", {"getwindowgeometry", "--shell", id}).standardOutput);
            WindowGeometry window{.id = id};
            for (std::string line; std::getline(shell, line);) {
                const auto equals = line.find('=');
                const std::string name = line.substr(0, equals);
                const int value = std::atoi(line.c_str() + equals + 1);
                if (name == "X") {
                    window.x = value;
                } else if (name == "Y") {
                    window.y = value;
                } else if (name == "WIDTH") {
                    window.width = value;
                } else if (name == "HEIGHT") {
                    window.height = value;
                }
            }
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

    /// The alert: the application's titled window named "Kelvra Hub".
    std::optional<WindowGeometry> alert() {
        for (const auto& window : visibleWindows()) {
            if (window.width > 200 &&
                tool("xdotool", {"getwindowname", window.id}).standardOutput == "Kelvra Hub\n") {
                return window;
            }
        }
        return std::nullopt;
    }

    /// Clicks the tray icon and chooses a menu item with the keys that reach it.
    void chooseFromMenu(const std::vector<std::string>& keys) {
        const auto icon = trayIcon();
        ASSERT_TRUE(icon);
        const auto menuShown = [&] { return visibleWindows().size() > 1; };
        ASSERT_TRUE(waitFor([&] { return !menuShown(); }, 10s)) << "a window is in the way";
        // A click that lands while the menu before is still closing is lost; click again then.
        bool shown = false;
        for (int attempt = 0; attempt < 3 && !shown; ++attempt) {
            tool("xdotool", {"mousemove", std::to_string(icon->x + icon->width / 2),
                             std::to_string(icon->y + icon->height / 2), "click", "1"});
            shown = waitFor(menuShown, 3s);
        }
        ASSERT_TRUE(shown) << "no menu";
        for (const auto& key : keys) {
            tool("xdotool", {"key", key});
        }
    }

    /// Members of the process group that the backend leads, or the backend itself.
    std::vector<pid_t> backendProcesses(pid_t backend) {
        std::vector<pid_t> members;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const std::string name = entry.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            std::getline(stat, line);
            const auto close = line.rfind(')');
            if (close == std::string::npos) {
                continue;
            }
            std::istringstream fields(line.substr(close + 2));
            std::string state;
            pid_t parent = 0, group = 0;
            fields >> state >> parent >> group;
            const pid_t pid = std::stoi(name);
            if ((pid == backend || group == backend) && state != "Z") {
                members.push_back(pid);
            }
        }
        return members;
    }

    /// Saves what the screen shows, for a person to look at.
    void saveScreenshot(const std::string& name) {
        xcb_connection_t* connection = xcb_connect(display_.c_str(), nullptr);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        auto* reply = xcb_get_image_reply(
            connection,
            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, 0, 0,
                          screen->width_in_pixels, screen->height_in_pixels, ~0u),
            nullptr);
        if (reply != nullptr && screen->root_depth == 24) {
            QImage image(xcb_get_image_data(reply), screen->width_in_pixels,
                         screen->height_in_pixels, QImage::Format_RGB32);
            const fs::path directory = fs::path(KELVRA_TEST_SCREENSHOT_DIR);
            fs::create_directories(directory);
            image.copy().save(QString::fromStdString((directory / (name + ".png")).string()));
        }
        std::free(reply);
        xcb_disconnect(connection);
    }

    /// Ends `app` by quitting, SIGTERM or whatever the test chose, and checks that it went
    /// cleanly within the backend's stop sequence and took its backend along.
    void expectCleanExit(Launched& app, pid_t backend) {
        const auto status = app.wait(6s);
        ASSERT_TRUE(status) << "still running 6 s after it was asked to quit\n" << log();
        EXPECT_EQ(*status, 0) << testing::readFile(directory_.path() / "app.out");
        EXPECT_TRUE(waitFor([&] { return backendProcesses(backend).empty(); }, 2s))
            << "the backend outlived the application";
    }

    void TearDown() override {
        if (connection_ != nullptr) {
            xcb_disconnect(connection_);
        }
    }

    testing::TemporaryDirectory directory_;
    xcb_connection_t* connection_ = nullptr;
    std::map<std::string, std::string> extraEnvironment_;
    std::string display_;
    std::string authority_;
    std::unique_ptr<Launched> tray_;
};

TEST_F(TrayApplicationTest, LaunchDocksTheIconServesThePageAndASecondLaunchOpensIt) {
    auto app = launch();
    ASSERT_TRUE(waitForLog("[shell] Backend ready at ")) << diagnostics();
    ASSERT_TRUE(waitFor([&] { return trayIcon().has_value(); }, 20s)) << "no icon in the tray";

    HttpRequest request;
    request.url = readyURL();
    request.timeout = 10s;
    const auto page = httpGet(request);
    ASSERT_TRUE(page) << page.error().reason;
    EXPECT_EQ(page->statusCode, 200);
    EXPECT_NE(page->body.find("Kelvra Hub"), std::string::npos);

    const auto second = testing::runProcess(kExecutable, {}, environment());
    EXPECT_EQ(second.exitStatus, 0) << second.standardError;
    EXPECT_TRUE(waitFor([&] { return fs::exists(openedRecord()); }, 10s));
    EXPECT_EQ(testing::readFile(openedRecord()), readyURL() + "\n");
    EXPECT_TRUE(app->isRunning());

    const pid_t backend = backendPid();
    ::kill(app->pid(), SIGTERM);
    expectCleanExit(*app, backend);
}

TEST_F(TrayApplicationTest, TheMenuOpensCopiesAndQuitsOnlyWhenConfirmed) {
    auto app = launch();
    ASSERT_TRUE(waitForLog("[shell] Backend ready at ")) << diagnostics();
    ASSERT_TRUE(waitFor([&] { return trayIcon().has_value(); }, 20s)) << "no icon in the tray";
    const std::string url = readyURL();

    // The first usable item: "Open Control Page".
    chooseFromMenu({"Down", "Return"});
    ASSERT_TRUE(waitFor([&] { return fs::exists(openedRecord()); }, 10s)) << log();
    EXPECT_EQ(testing::readFile(openedRecord()), url + "\n");
    EXPECT_TRUE(waitForLog("[shell] Opened " + url + " in the default browser."));

    // "Copy URL", read back by another client.
    chooseFromMenu({"Down", "Down", "Return"});
    EXPECT_TRUE(waitFor(
        [&] {
            return tool("xclip", {"-o", "-selection", "clipboard"}).standardOutput == url;
        },
        10s));

    // "Quit Kelvra Hub", the last item; Escape cancels the confirmation.
    chooseFromMenu({"Up"});
    saveScreenshot("tray-menu");
    tool("xdotool", {"key", "Return"});
    ASSERT_TRUE(waitFor([&] { return alert().has_value(); }, 10s)) << "no confirmation";
    tool("xdotool", {"key", "Escape"});
    ASSERT_TRUE(waitFor([&] { return !alert().has_value(); }, 10s));
    EXPECT_TRUE(app->isRunning());
    EXPECT_EQ(log().find("shutdown"), std::string::npos);

    // Confirmed, it stops the backend and ends.
    const pid_t backend = backendPid();
    chooseFromMenu({"Up", "Return"});
    ASSERT_TRUE(waitFor([&] { return alert().has_value(); }, 10s)) << "no confirmation";
    tool("xdotool", {"key", "Return"});
    expectCleanExit(*app, backend);
}

TEST_F(TrayApplicationTest, SigtermStopsTheBackendGracefullyWithoutAsking) {
    auto app = launch();
    ASSERT_TRUE(waitForLog("[shell] Backend ready at ")) << diagnostics();
    const pid_t backend = backendPid();
    ::kill(app->pid(), SIGTERM);
    expectCleanExit(*app, backend);
    EXPECT_TRUE(waitForLog("(shutdown command)", 0ms)) << log();
    EXPECT_FALSE(alert().has_value());
}

TEST_F(TrayApplicationTest, ABackendThatDiesEndsInTheUnexpectedStopAlert) {
    auto app = launch();
    ASSERT_TRUE(waitForLog("[shell] Backend ready at ")) << diagnostics();
    const pid_t backend = backendPid();
    ::kill(backend, SIGKILL);
    ASSERT_TRUE(waitFor([&] { return alert().has_value(); }, 10s)) << log();
    saveScreenshot("unexpected-stop-alert");
    EXPECT_TRUE(app->isRunning());
    tool("xdotool", {"key", "Return"});
    expectCleanExit(*app, backend);
}

TEST_F(TrayApplicationTest, TheFirstStartShowsTheWelcomeWindowBesideTheIcon) {
    fs::remove(settingsFile());
    auto app = launch();
    ASSERT_TRUE(waitForLog("[shell] Backend ready at ")) << diagnostics();
    ASSERT_TRUE(waitFor([&] { return trayIcon().has_value(); }, 20s)) << "no icon in the tray";
    ASSERT_TRUE(waitFor([&] { return alert().has_value(); }, 10s)) << "no welcome window";
    std::this_thread::sleep_for(500ms);  // lets the page address settle in before the picture
    saveScreenshot("welcome-window");
    const pid_t backend = backendPid();
    ::kill(app->pid(), SIGTERM);
    expectCleanExit(*app, backend);
}

TEST_F(TrayApplicationTest, WithoutATrayTheWelcomeWindowStandsInForIt) {
    tray_.reset();
    auto app = launch();
    ASSERT_TRUE(waitForLog("[shell] Backend ready at ")) << diagnostics();
    // The tray may come up late at login: the icon waits half a minute for one.
    EXPECT_FALSE(waitFor([&] { return alert().has_value(); }, 20s));
    ASSERT_TRUE(waitFor([&] { return alert().has_value(); }, 20s)) << "no welcome window";
    EXPECT_FALSE(trayIcon().has_value());

    // A second launch opens the page, and the welcome window is the way to the menu.
    const auto window = alert();
    tool("xdotool", {"windowunmap", "--sync", window->id});
    const auto second = testing::runProcess(kExecutable, {}, environment());
    EXPECT_EQ(second.exitStatus, 0) << second.standardError;
    EXPECT_TRUE(waitFor([&] { return fs::exists(openedRecord()); }, 10s));
    EXPECT_TRUE(waitFor([&] { return alert().has_value(); }, 10s)) << "not presented again";

    const pid_t backend = backendPid();
    ::kill(app->pid(), SIGTERM);
    expectCleanExit(*app, backend);
}

TEST_F(TrayApplicationTest, ANextKeyWithDistributionOnReachesTheBackend) {
    // The backend keeps its switch in its state file: start with distribution on, and listen
    // through the X11 tap, which needs no device access.
    testing::writeFile(home() / ".local/state/Morvane/Kelvra Hub/server-state.json",
                       R"({"version": 1, "clickerDistributorEnabled": true,
                           "groups": {"stage-left": true}})");
    extraEnvironment_["KELVRA_HUB_KEYBOARD_TAP"] = "x11";
    auto app = launch();
    ASSERT_TRUE(waitForLog("Clicker Distributor assigned-key consuming listener is active."))
        << diagnostics();

    // The grabs follow the listener's start; press until the first key gets through.
    const auto received = [&] {
        return log().find("Received clicker-key right") != std::string::npos;
    };
    EXPECT_TRUE(waitFor(
        [&] {
            tool("xdotool", {"key", "Next"});
            return waitFor(received, 500ms);
        },
        20s))
        << diagnostics();

    const pid_t backend = backendPid();
    ::kill(app->pid(), SIGTERM);
    expectCleanExit(*app, backend);
}

}  // namespace
}  // namespace kelvra
