// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "RecordedNetworkChanges.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;

/// Stands in for the kernel: the test announces changes, on the main thread as the real one.
class FakeNetworkChangeSource final : public NetworkChangeSource {
public:
    bool startSucceeds = true;
    int starts = 0;
    int stops = 0;

    bool start(std::function<void()> changed) override {
        ++starts;
        changed_ = startSucceeds ? std::move(changed) : nullptr;
        return startSucceeds;
    }

    void stop() override {
        ++stops;
        changed_ = nullptr;
    }

    /// Announces a change; false when not watching.
    bool announce() {
        if (changed_) {
            changed_();
        }
        return changed_ != nullptr;
    }

private:
    std::function<void()> changed_;
};

using testing::RecordedNetworkChanges;

TEST(HubNetworkServiceMonitorTest, ReportsABurstOnceAfterItsLastChange) {
    const auto source = std::make_shared<FakeNetworkChangeSource>();
    RecordedNetworkChanges changes(source);
    auto& mainThread = *changes.mainThread;
    changes.monitor->start();

    for (int change = 0; change < 10; ++change) {
        ASSERT_TRUE(source->announce());
        mainThread.advance(500ms);
    }
    // The last change was 0.5 s ago; the report is due 1.5 s after it.
    mainThread.advance(999ms);
    EXPECT_EQ(changes.reports, 0u);
    mainThread.advance(1ms);
    EXPECT_EQ(changes.reports, 1u);
    mainThread.advance(1h);
    EXPECT_EQ(changes.reports, 1u);
    EXPECT_TRUE(changes.alwaysOnMainThread);
}

TEST(HubNetworkServiceMonitorTest, StartsAndStopsItsSourceOnlyWhenNeeded) {
    const auto source = std::make_shared<FakeNetworkChangeSource>();
    RecordedNetworkChanges changes(source);
    auto& monitor = changes.monitor;

    monitor->stop();
    source->startSucceeds = false;
    monitor->start();
    EXPECT_FALSE(monitor->isRunning());
    monitor->stop();
    EXPECT_EQ(source->stops, 0);

    source->startSucceeds = true;
    monitor->start();
    monitor->start();
    EXPECT_EQ(source->starts, 2);
    EXPECT_TRUE(monitor->isRunning());

    monitor->stop();
    monitor->stop();
    EXPECT_EQ(source->stops, 1);
    EXPECT_FALSE(monitor->isRunning());
}

TEST(HubNetworkServiceMonitorTest, StopOrReleaseDropsAPendingNotification) {
    for (const bool release : {false, true}) {
        SCOPED_TRACE(release ? "released" : "stopped");
        const auto source = std::make_shared<FakeNetworkChangeSource>();
        RecordedNetworkChanges changes(source);
        auto& monitor = changes.monitor;
        auto& mainThread = *changes.mainThread;
        monitor->start();
        ASSERT_TRUE(source->announce());
        mainThread.advance(1s);

        release ? monitor.reset() : monitor->stop();
        EXPECT_EQ(source->stops, 1);
        EXPECT_FALSE(source->announce());
        mainThread.advance(1h);
        EXPECT_EQ(changes.reports, 0u);
        if (!release) {
            // A new run is not confused with the dropped one.
            monitor->start();
            ASSERT_TRUE(source->announce());
            mainThread.advance(HubNetworkServiceMonitor::defaultDebounceInterval);
            EXPECT_EQ(changes.reports, 1u);
        }
    }
}

}  // namespace
}  // namespace kelvra
