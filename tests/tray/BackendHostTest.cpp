// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "tray/BackendHost.h"
#include "tray/StatusBarFakes.h"

namespace kelvra {
namespace {

using Events = std::vector<std::string>;
const std::string kURL = "http://127.0.0.1:4000/";

/// The host over supervisors that the test answers for; what it reported, in order.
class BackendHostTest : public ::testing::Test {
protected:
    void launch() {
        host->launch({"127.0.0.1", 4000, "127.0.0.1"},
                     [this](auto launched) { events.push_back(launched ? "launched" : "failed"); });
    }
    testing::FakeSupervisor& child() { return *supervisors.back(); }

    std::vector<std::shared_ptr<testing::FakeSupervisor>> supervisors;
    Events events;
    std::shared_ptr<BackendHost> host = BackendHost::create(
        [this](std::optional<BackendServerBinding> binding) {
            supervisors.push_back(std::make_shared<testing::FakeSupervisor>(binding));
            supervisors.back()->stopsAtOnce = false;
            return supervisors.back();
        },
        {.currentChanged = [this](auto current) { events.push_back(current ? "current" : "none"); },
         .ready = [this](const std::string& url) { events.push_back("ready " + url); },
         .stopping = [this] { events.push_back("stopping"); },
         .reports = {.onUnexpectedExit = [this](int32_t) { events.push_back("exit"); },
                     .onFatalProtocol = {},
                     .onClickerListenerChange = {},
                     .onClickerDistributorStateChange = {},
                     .onClickerDistributorUpdateResult = {}}});
};

// A launch is current at once and then ready at its address; a stop forgets both before its
// child has gone, and a stopped backend's reports stay outside.
TEST_F(BackendHostTest, LaunchesStopsAndHearsOnlyTheCurrentBackend) {
    launch();
    child().ready(kURL);
    EXPECT_EQ(host->readyURL(), kURL);
    child().callbacks.onUnexpectedExit(1);
    bool stopped = false;
    host->stop([&] { stopped = true; });
    EXPECT_EQ(host->readyURL(), std::nullopt);
    child().callbacks.onUnexpectedExit(1);
    EXPECT_FALSE(stopped) << "until the child has gone";
    child().finishStop();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(events, (Events{"current", "ready " + kURL, "launched", "exit", "none", "stopping"}));
}

// A child that failed to start may still hold the port: the launch answers once it has stopped.
// Once closed, a backend that becomes ready is announced to nobody and reports nothing.
TEST_F(BackendHostTest, AFailedLaunchStopsItsChildAndAClosedHostAnnouncesNothing) {
    launch();
    child().fail(BackendSupervisorError::startupTimeout(15));
    EXPECT_EQ(events, (Events{"current", "none"}));
    child().finishStop();
    EXPECT_EQ(events.back(), "failed");

    events.clear();
    launch();
    host->close();
    child().ready(kURL);
    child().callbacks.onUnexpectedExit(1);
    EXPECT_EQ(host->readyURL(), std::nullopt);
    EXPECT_EQ(events, (Events{"current", "launched"}));
}

}  // namespace
}  // namespace kelvra
