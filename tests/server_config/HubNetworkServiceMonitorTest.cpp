// SPDX-License-Identifier: MIT
#include <atomic>
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
    std::atomic<bool> startSucceeds = true;
    std::atomic<int> starts = 0;
    std::atomic<int> stops = 0;

    bool start(std::function<void()> changed) override {
        ++starts;
        std::lock_guard lock(mutex_);
        changed_ = startSucceeds ? std::move(changed) : nullptr;
        return startSucceeds;
    }

    void stop() override {
        ++stops;
        std::lock_guard lock(mutex_);
        changed_ = nullptr;
    }

    /// Announces a change as the source's thread would; false when not watching.
    bool announce() {
        std::lock_guard lock(mutex_);
        if (changed_) {
            changed_();
        }
        return changed_ != nullptr;
    }

private:
    std::mutex mutex_;
    std::function<void()> changed_;
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
    EXPECT_EQ(fixture.source->stops.load(), 0);

    fixture.source->startSucceeds = true;
    monitor->start();
    monitor->start();
    EXPECT_EQ(fixture.source->starts.load(), 2);
    EXPECT_TRUE(monitor->isRunning());

    monitor->stop();
    monitor->stop();
    EXPECT_EQ(fixture.source->stops.load(), 1);
    EXPECT_FALSE(monitor->isRunning());

    // Started again after a stop, it reports again.
    monitor->start();
    ASSERT_TRUE(fixture.source->announce());
    EXPECT_TRUE(fixture.runUntilChanges(1, 10s));
}

TEST(HubNetworkServiceMonitorTest, StopOrReleaseDropsANotificationAlreadyOnItsWay) {
    for (const bool release : {false, true}) {
        SCOPED_TRACE(release ? "released" : "stopped");
        MonitorFixture fixture;
        auto monitor = fixture.makeMonitor(20ms);
        monitor->start();
        ASSERT_TRUE(fixture.source->announce());
        ASSERT_TRUE(fixture.mainThread->waitForPending(10s));

        release ? monitor.reset() : monitor->stop();
        EXPECT_EQ(fixture.source->stops.load(), 1);
        EXPECT_FALSE(fixture.source->announce());
        fixture.mainThread->runPending();
        EXPECT_TRUE(fixture.changes.empty());
        if (!release) {
            // A new run is not confused with the dropped one.
            monitor->start();
            ASSERT_TRUE(fixture.source->announce());
            EXPECT_TRUE(fixture.runUntilChanges(1, 10s));
        }
    }
}

}  // namespace
}  // namespace kelvra
