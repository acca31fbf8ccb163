// SPDX-License-Identifier: MIT
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#include "RecordedNetworkChanges.h"

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

using testing::RecordedNetworkChanges;

TEST(HubNetworkServiceMonitorTest, ReportsABurstOnceAfterItsLastChange) {
    const auto source = std::make_shared<FakeNetworkChangeSource>();
    RecordedNetworkChanges changes(source);
    changes.monitor->start();

    Clock::time_point lastAnnounced;
    for (int change = 0; change < 10; ++change) {
        if (change > 0) {
            std::this_thread::sleep_for(100ms);
        }
        lastAnnounced = Clock::now();
        ASSERT_TRUE(source->announce());
    }

    ASSERT_TRUE(changes.runUntil(1, 10s));
    const auto delay = changes.times.front() - lastAnnounced;
    EXPECT_GE(delay, 1500ms);
    EXPECT_LT(delay, 3000ms);
    EXPECT_FALSE(changes.runUntil(2, 1s));
    EXPECT_TRUE(changes.alwaysOnMainThread);
}

TEST(HubNetworkServiceMonitorTest, StartsAndStopsItsSourceOnlyWhenNeeded) {
    const auto source = std::make_shared<FakeNetworkChangeSource>();
    RecordedNetworkChanges changes(source, 50ms);
    auto& monitor = changes.monitor;

    monitor->stop();
    source->startSucceeds = false;
    monitor->start();
    EXPECT_FALSE(monitor->isRunning());
    monitor->stop();
    EXPECT_EQ(source->stops.load(), 0);

    source->startSucceeds = true;
    monitor->start();
    monitor->start();
    EXPECT_EQ(source->starts.load(), 2);
    EXPECT_TRUE(monitor->isRunning());

    monitor->stop();
    monitor->stop();
    EXPECT_EQ(source->stops.load(), 1);
    EXPECT_FALSE(monitor->isRunning());
}

TEST(HubNetworkServiceMonitorTest, StopOrReleaseDropsANotificationAlreadyOnItsWay) {
    for (const bool release : {false, true}) {
        SCOPED_TRACE(release ? "released" : "stopped");
        const auto source = std::make_shared<FakeNetworkChangeSource>();
        RecordedNetworkChanges changes(source, 20ms);
        auto& monitor = changes.monitor;
        monitor->start();
        ASSERT_TRUE(source->announce());
        ASSERT_TRUE(changes.mainThread->waitForPending(10s));

        release ? monitor.reset() : monitor->stop();
        EXPECT_EQ(source->stops.load(), 1);
        EXPECT_FALSE(source->announce());
        changes.mainThread->runPending();
        EXPECT_TRUE(changes.times.empty());
        if (!release) {
            // A new run is not confused with the dropped one.
            monitor->start();
            ASSERT_TRUE(source->announce());
            EXPECT_TRUE(changes.runUntil(1, 10s));
        }
    }
}

}  // namespace
}  // namespace kelvra
