// SPDX-License-Identifier: MIT
#include <atomic>
#include <condition_variable>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#include "server_config/HubNetworkServiceMonitor.h"
#include "support/ManualMainThreadExecutor.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

/// Stands in for the kernel: the test announces changes from its own thread.
class FakeNetworkChangeSource final : public NetworkChangeSource {
public:
    bool startSucceeds = true;

    bool start(std::function<void()> changed) override {
        std::lock_guard lock(mutex_);
        ++starts_;
        if (!startSucceeds) {
            return false;
        }
        changed_ = std::move(changed);
        return true;
    }

    void stop() override {
        std::lock_guard lock(mutex_);
        ++stops_;
        changed_ = nullptr;
    }

    /// Announces a change as the source's thread would; false when not watching.
    bool announce() {
        std::lock_guard lock(mutex_);
        if (!changed_) {
            return false;
        }
        changed_();
        return true;
    }

    int starts() const {
        std::lock_guard lock(mutex_);
        return starts_;
    }
    int stops() const {
        std::lock_guard lock(mutex_);
        return stops_;
    }

private:
    mutable std::mutex mutex_;
    std::function<void()> changed_;
    int starts_ = 0;
    int stops_ = 0;
};

struct MonitorFixture {
    std::shared_ptr<ManualMainThreadExecutor> mainThread =
        std::make_shared<ManualMainThreadExecutor>();
    std::shared_ptr<FakeNetworkChangeSource> source = std::make_shared<FakeNetworkChangeSource>();
    std::vector<Clock::time_point> changes;
    bool alwaysOnMainThread = true;

    std::shared_ptr<HubNetworkServiceMonitor> makeMonitor(
        std::chrono::milliseconds debounce = HubNetworkServiceMonitor::defaultDebounceInterval) {
        auto monitor = HubNetworkServiceMonitor::create(mainThread, source, debounce);
        monitor->setOnChange([this] {
            alwaysOnMainThread = alwaysOnMainThread && mainThread->isMainThread();
            changes.push_back(Clock::now());
        });
        return monitor;
    }

    /// Runs the main thread until `count` changes were reported, or `limit` passed.
    bool runUntilChanges(size_t count, std::chrono::milliseconds limit) {
        return mainThread->runUntil([&] { return changes.size() >= count; }, limit);
    }
};

TEST(HubNetworkServiceMonitorTest, ReportsABurstOnceAfterItsLastChange) {
    MonitorFixture fixture;
    const auto monitor = fixture.makeMonitor();
    monitor->start();

    Clock::time_point lastAnnounced;
    for (int change = 0; change < 10; ++change) {
        if (change > 0) {
            std::this_thread::sleep_for(100ms);
        }
        lastAnnounced = Clock::now();
        ASSERT_TRUE(fixture.source->announce());
    }

    ASSERT_TRUE(fixture.runUntilChanges(1, 10s));
    const auto delay = fixture.changes.front() - lastAnnounced;
    EXPECT_GE(delay, 1500ms);
    EXPECT_LT(delay, 3000ms);
    EXPECT_FALSE(fixture.runUntilChanges(2, 1s));
    EXPECT_TRUE(fixture.alwaysOnMainThread);
}

TEST(HubNetworkServiceMonitorTest, StartsAndStopsItsSourceOnlyWhenNeeded) {
    MonitorFixture fixture;
    const auto monitor = fixture.makeMonitor(50ms);

    monitor->stop();
    fixture.source->startSucceeds = false;
    monitor->start();
    EXPECT_FALSE(monitor->isRunning());
    monitor->stop();
    EXPECT_EQ(fixture.source->stops(), 0);

    fixture.source->startSucceeds = true;
    monitor->start();
    monitor->start();
    EXPECT_EQ(fixture.source->starts(), 2);
    EXPECT_TRUE(monitor->isRunning());

    monitor->stop();
    monitor->stop();
    EXPECT_EQ(fixture.source->stops(), 1);
    EXPECT_FALSE(monitor->isRunning());

    // Started again after a stop, it reports again.
    monitor->start();
    ASSERT_TRUE(fixture.source->announce());
    EXPECT_TRUE(fixture.runUntilChanges(1, 10s));
}

TEST(HubNetworkServiceMonitorTest, ReportsNothingAfterStop) {
    MonitorFixture fixture;
    const auto monitor = fixture.makeMonitor(300ms);
    monitor->start();
    ASSERT_TRUE(fixture.source->announce());
    fixture.mainThread->runUntil([] { return false; }, 100ms);

    monitor->stop();

    EXPECT_FALSE(fixture.runUntilChanges(1, 900ms));
}

TEST(HubNetworkServiceMonitorTest, StopDropsANotificationAlreadyOnItsWay) {
    const auto mainThread = std::make_shared<ManualMainThreadExecutor>();
    const auto source = std::make_shared<FakeNetworkChangeSource>();
    const auto monitor = HubNetworkServiceMonitor::create(mainThread, source, 20ms);
    int changes = 0;
    monitor->setOnChange([&] { ++changes; });
    monitor->start();
    ASSERT_TRUE(source->announce());
    ASSERT_TRUE(mainThread->waitForPending(10s));

    monitor->stop();
    mainThread->runPending();
    EXPECT_EQ(changes, 0);

    // A new run is not confused with the dropped one.
    monitor->start();
    ASSERT_TRUE(source->announce());
    ASSERT_TRUE(mainThread->waitForPending(10s));
    mainThread->runPending();
    EXPECT_EQ(changes, 1);
}

TEST(HubNetworkServiceMonitorTest, ReleasingTheMonitorStopsItAndSilencesWhatIsOnItsWay) {
    const auto mainThread = std::make_shared<ManualMainThreadExecutor>();
    const auto source = std::make_shared<FakeNetworkChangeSource>();
    auto monitor = HubNetworkServiceMonitor::create(mainThread, source, 20ms);
    int changes = 0;
    monitor->setOnChange([&] { ++changes; });
    monitor->start();
    ASSERT_TRUE(source->announce());
    ASSERT_TRUE(mainThread->waitForPending(10s));

    monitor.reset();
    EXPECT_EQ(source->stops(), 1);
    EXPECT_FALSE(source->announce());
    mainThread->runPending();
    EXPECT_EQ(changes, 0);
}

}  // namespace
}  // namespace kelvra
