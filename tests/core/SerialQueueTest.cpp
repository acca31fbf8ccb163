// SPDX-License-Identifier: MIT
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

#include "core/SerialQueue.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueueTest, RunsImmediateWorkInOrderOneAtATime) {
    SerialQueue queue("com.morvane.kelvrahub.test-order");
    std::vector<int> order;
    int running = 0;
    int maximumRunning = 0;
    for (int index = 0; index < 200; ++index) {
        queue.async([&, index] {
            maximumRunning = std::max(maximumRunning, ++running);
            order.push_back(index);
            --running;
        });
    }
    queue.sync([] {});
    ASSERT_EQ(order.size(), 200u);
    for (int index = 0; index < 200; ++index) {
        EXPECT_EQ(order[static_cast<size_t>(index)], index);
    }
    EXPECT_EQ(maximumRunning, 1);
}

TEST(SerialQueueTest, DelayedWorkRunsByDeadlineAndCancelledWorkNever) {
    SerialQueue queue("delays");
    std::mutex mutex;
    std::vector<std::string> ran;
    std::promise<void> lastRan;
    auto record = [&](std::string name) {
        std::lock_guard lock(mutex);
        ran.push_back(std::move(name));
    };
    queue.asyncAfter(150ms, [&] {
        record("late");
        lastRan.set_value();
    });
    const auto cancelled = queue.asyncAfter(50ms, [&] { record("cancelled"); });
    queue.asyncAfter(20ms, [&] { record("early"); });
    queue.async([&] { record("now"); });
    cancelled.cancel();

    ASSERT_EQ(lastRan.get_future().wait_for(10s), std::future_status::ready);
    std::lock_guard lock(mutex);
    EXPECT_EQ(ran, (std::vector<std::string>{"now", "early", "late"}));
    EXPECT_TRUE(cancelled.isCancelled());
}

TEST(SerialQueueTest, DelayedWorkWaitsAtLeastItsDelay) {
    SerialQueue queue("delay-length");
    const auto scheduled = SerialQueue::Clock::now();
    std::promise<SerialQueue::Clock::time_point> ranAt;
    queue.asyncAfter(100ms, [&] { ranAt.set_value(SerialQueue::Clock::now()); });
    auto future = ranAt.get_future();
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
    EXPECT_GE(future.get() - scheduled, 100ms);
}

TEST(SerialQueueTest, DestructionDiscardsPendingDelayedWorkAndJoins) {
    auto ran = std::make_shared<std::atomic<bool>>(false);
    {
        SerialQueue queue("discard");
        queue.asyncAfter(1h, [ran] { ran->store(true); });
    }
    EXPECT_FALSE(ran->load());
}

TEST(SerialQueueTest, MayBeDestroyedByItsOwnWork) {
    auto queue = std::make_shared<SerialQueue>("self-destroy");
    std::weak_ptr<SerialQueue> watcher = queue;
    std::promise<void> destroyed;
    queue->async([owned = queue, &destroyed]() mutable {
        owned.reset();  // the last owner lets go on the queue's own thread
        destroyed.set_value();
    });
    queue.reset();
    ASSERT_EQ(destroyed.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(watcher.expired());
}

TEST(SerialQueueTest, KnowsItsOwnThread) {
    SerialQueue queue("current");
    EXPECT_FALSE(queue.isCurrent());
    bool inside = false;
    queue.sync([&] { inside = queue.isCurrent(); });
    EXPECT_TRUE(inside);
}

TEST(SerialQueueTest, CancellingAnEmptyHandleIsHarmless) {
    CancellableWork none;
    none.cancel();
    EXPECT_FALSE(none.isCancelled());
}

}  // namespace
}  // namespace kelvra
