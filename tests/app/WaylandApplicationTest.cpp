// SPDX-License-Identifier: MIT
// The built application in a Wayland session without any tray: a headless Weston of its own
// (tests/app/weston-run.sh, started with its debug protocol so that `weston-debug` can list the
// windows) inside a private D-Bus session, where no StatusNotifierWatcher runs. The browser is a
// stand-in `xdg-open` that records what it was asked to open.
#include <arpa/inet.h>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "support/SpawnedProcess.h"
#include "support/TestSupport.h"

namespace kelvra {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kExecutable = fs::path(KELVRA_TEST_BUNDLE_DIR) / "bin" / "kelvra-hub";

/// A TCP port nobody listens on now: the default one may be taken by another test run.
int freePort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{
        .sin_family = AF_INET, .sin_port = 0, .sin_addr = {INADDR_ANY}, .sin_zero = {}};
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    return ntohs(address.sin_port);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

TEST(WaylandApplicationTest, WithoutATrayASecondLaunchPresentsTheWelcomeWindowAndOpensThePage) {
    std::map<std::string, std::string> environment;
    for (const char* name : {"WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"}) {
        if (std::getenv(name) == nullptr) {
            GTEST_SKIP() << "run inside dbus-run-session and tests/app/weston-run.sh";
        }
        environment[name] = std::getenv(name);
    }
    testing::TemporaryDirectory directory;
    const fs::path home = directory.path() / "home", opened = directory.path() / "opened";
    environment.insert({{"HOME", home.string()},
                        {"PATH", (directory.path() / "bin").string() + ":/usr/bin:/bin"},
                        {"QT_QPA_PLATFORM", "wayland"}});
    testing::writeExecutable(directory.path() / "bin" / "xdg-open",
                             "#!/bin/sh\necho \"$1\" >> '" + opened.string() + "'\n");
    // The window must come from the second launch, not from the first start.
    testing::writeFile(home / ".config/Morvane/Kelvra Hub/settings.json",
                       R"({"showWelcomeWindowAtStartup": false, "hubServerPort": )" +
                           std::to_string(freePort()) + "}");
    const auto log = [&] {
        const fs::path file = home / ".local/state/Morvane/Kelvra Hub/kelvra-hub.log";
        return fs::exists(file) ? testing::readFile(file) : "";
    };
    // What the log says between `marker` and the next full stop; empty until it says it.
    const auto logged = [&](const std::string& marker) -> std::string {
        const std::string text = log();
        const auto start = text.find(marker);
        return start == std::string::npos
                   ? ""
                   : text.substr(start + marker.size(),
                                 text.find(".\n", start) - start - marker.size());
    };
    const auto welcomeShown = [&] {
        return testing::runProcess("/usr/bin/weston-debug", {"scene-graph"}, environment)
                   .standardOutput.find("top-level window 'Kelvra Hub'") != std::string::npos;
    };

    testing::SpawnedProcess app(kExecutable, {}, environment);
    ASSERT_TRUE(waitFor([&] { return !logged("[shell] Backend ready at ").empty(); }, 30s))
        << log();
    const std::string url = logged("[shell] Backend ready at ");
    const pid_t backend = std::stoi(logged("[shell] Started backend PID "));
    EXPECT_FALSE(welcomeShown());

    // Launched as a desktop launcher would on Wayland, with a token to take the focus.
    auto second = environment;
    second["XDG_ACTIVATION_TOKEN"] = "launcher-token-1";
    const auto result = testing::runProcess(kExecutable, {}, second);
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(waitFor(welcomeShown, 20s)) << "not presented";
    ASSERT_TRUE(waitFor([&] { return fs::exists(opened); }, 20s));
    EXPECT_EQ(testing::readFile(opened), url + "\n");

    app.kill(SIGTERM);
    const auto status = app.wait(10s);
    ASSERT_TRUE(status) << "still running 10 s after SIGTERM\n" << log();
    EXPECT_EQ(*status, 0);
    EXPECT_TRUE(waitFor([&] { return ::kill(backend, 0) != 0; }, 5s)) << "the backend outlived it";
    EXPECT_NE(log().find("Backend exited with code 0."), std::string::npos) << log();
}

}  // namespace
}  // namespace kelvra
