// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <vector>

#include "shell/updates/AppUpdater.h"
#include "support/ManualMainThreadExecutor.h"

namespace kelvra {
namespace {

/// Records every call in order as a word; `startUpdater` fails when told to.
class FakeController final : public SparkleUpdaterControlling {
public:
    bool automaticallyChecksForUpdates() const override { return automatic; }
    void setAutomaticallyChecksForUpdates(bool enabled) override {
        automatic = enabled;
        calls.push_back(enabled ? "automatic=true" : "automatic=false");
    }
    std::expected<void, Error> startUpdater() override {
        calls.push_back("start");
        if (startFails) {
            return std::unexpected(Error("The feed is not configured.", "Fake.startFailed"));
        }
        return {};
    }
    void checkForUpdateInformation() override { calls.push_back("probe"); }
    void checkForUpdates(UpdateCheckSender sender) override {
        calls.push_back("interactive");
        senders.push_back(sender.has_value() ? std::any_cast<int>(sender) : -1);
    }

    bool automatic = true;
    bool startFails = false;
    std::vector<std::string> calls;
    std::vector<int> senders;
};

class AppUpdaterTest : public ::testing::Test {
protected:
    std::shared_ptr<AppUpdater> makeUpdater() {
        return AppUpdater::create(
            controller, [this](const std::string& line) { log.push_back(line); }, mainThread);
    }

    const UpdateItem item{"9.0.0", "90", std::nullopt, std::nullopt, "https://example.com/"};
    const std::shared_ptr<FakeController> controller = std::make_shared<FakeController>();
    const std::shared_ptr<ManualMainThreadExecutor> mainThread =
        std::make_shared<ManualMainThreadExecutor>();
    std::vector<std::string> log;
};

// Which outcome is shown is checked against a real feed; here, how the probe is made.
TEST_F(AppUpdaterTest, TheProbeTurnsPeriodicChecksOffAndQueuesTheCheckForAnUpdate) {
    const auto updater = makeUpdater();
    updater->checkForUpdatesOnStartup();
    EXPECT_EQ(controller->calls, (std::vector<std::string>{"automatic=false", "start", "probe"}));
    updater->didFindValidUpdate(item);
    updater->didFinishUpdateCycle(UpdateCheck::updateInformation, std::nullopt);
    EXPECT_EQ(controller->senders.size(), 0u) << "never made inside the callback";
    mainThread->runPending();
    EXPECT_EQ(controller->senders.size(), 1u);
}

// Only the probe's own finish ends it, even a failed one; a later finish changes nothing.
TEST_F(AppUpdaterTest, ManualRequestsDuringTheProbeGiveOneCheckWithTheLastSender) {
    const auto updater = makeUpdater();
    updater->checkForUpdatesOnStartup();
    updater->checkForUpdates(1);
    updater->checkForUpdates(2);
    updater->didFindValidUpdate(item);
    updater->didFinishUpdateCycle(UpdateCheck::updates, std::nullopt);
    mainThread->runPending();
    EXPECT_TRUE(controller->senders.empty());

    updater->didFinishUpdateCycle(UpdateCheck::updateInformation,
                                  UpdaterError::feedUnavailable("http://127.0.0.1/", 404));
    updater->didFinishUpdateCycle(UpdateCheck::updateInformation, std::nullopt);
    mainThread->runPending();
    EXPECT_EQ(controller->senders, std::vector<int>{2});

    // After the probe, requests go straight through.
    updater->checkForUpdates(3);
    EXPECT_EQ(controller->senders, (std::vector<int>{2, 3}));
}

TEST_F(AppUpdaterTest, TheProbeRunsOnceAndNotAtAllWhenTheUpdaterCannotStart) {
    controller->startFails = true;
    const auto updater = makeUpdater();
    updater->checkForUpdatesOnStartup();
    updater->checkForUpdatesOnStartup();
    EXPECT_EQ(controller->calls, (std::vector<std::string>{"automatic=false", "start"}));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].ends_with("The feed is not configured."));
    updater->checkForUpdates(7);
    EXPECT_EQ(controller->senders, std::vector<int>{7});
}

TEST_F(AppUpdaterTest, AReleasedUpdaterMakesNoQueuedCheck) {
    auto updater = makeUpdater();
    updater->checkForUpdatesOnStartup();
    updater->didFindValidUpdate(item);
    updater->didFinishUpdateCycle(UpdateCheck::updateInformation, std::nullopt);
    updater.reset();
    mainThread->runPending();
    EXPECT_TRUE(controller->senders.empty());
}

}  // namespace
}  // namespace kelvra
