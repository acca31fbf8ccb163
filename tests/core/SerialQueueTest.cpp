// SPDX-License-Identifier: MIT
#include <algorithm>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <ranges>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/SerialQueue.h"
#include "core/UniqueFd.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;

/// Posts to `queue` when the work item holding it is destroyed, as captured state with a
/// destructor of its own may.
struct PostsWhenDestroyed {
    SerialQueue& queue;
    std::function<void()> work;
    ~PostsWhenDestroyed() { queue.async(work); }
};

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
    ASSERT_TRUE(queue.sync([] {}));
    EXPECT_TRUE(std::ranges::equal(order, std::views::iota(0, 200)));
    EXPECT_EQ(maximumRunning, 1);
}

TEST(SerialQueueTest, DelayedWorkRunsByDeadlineAndCancelledWorkNever) {
    SerialQueue queue("delays");
    const auto scheduled = SerialQueue::Clock::now();
    std::mutex mutex;
    std::vector<std::string> ran;
    std::promise<void> lastRan;
    auto record = [&](std::string name) {
        std::lock_guard lock(mutex);
        ran.push_back(std::move(name));
    };
    queue.asyncAfter(150ms, [&] {
        record("late");
        EXPECT_GE(SerialQueue::Clock::now() - scheduled, 150ms);
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

// Work dropped unrun, cancelled or discarded by destruction, may post to the queue from its
// captures' destructor.
TEST(SerialQueueTest, DroppedWorkMayPostToTheQueueFromItsCapturesDestructor) {
    auto queue = std::make_unique<SerialQueue>("drop-posts");
    std::promise<void> posted;
    auto cancelledGuard = std::make_shared<PostsWhenDestroyed>(*queue, [&] { posted.set_value(); });
    const auto cancelled = queue->asyncAfter(1h, [cancelledGuard] {});
    cancelledGuard.reset();
    cancelled.cancel();
    queue->async([] {});  // wakes the queue, which drops the cancelled item
    EXPECT_EQ(posted.get_future().wait_for(10s), std::future_status::ready);

    auto guard = std::make_shared<PostsWhenDestroyed>(*queue, [] {});
    std::atomic<bool> ran = false;
    queue->asyncAfter(1h, [guard, &ran] { ran = true; });
    guard.reset();
    std::promise<void> destroyed;
    std::thread destroying([&] {
        queue.reset();
        destroyed.set_value();
    });
    const bool finished = destroyed.get_future().wait_for(10s) == std::future_status::ready;
    finished ? destroying.join() : destroying.detach();
    EXPECT_TRUE(finished) << "destruction deadlocked";
    EXPECT_FALSE(ran);
}

TEST(SerialQueueTest, SyncReportsAQueueThatIsShuttingDown) {
    auto queue = std::make_unique<SerialQueue>("sync-shutdown");
    SerialQueue* const raw = queue.get();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    // Running, not pending: a pending item would be discarded and the destructor not wait.
    std::promise<void> running;
    queue->async([released, &running] {
        running.set_value();
        released.wait();
    });
    ASSERT_EQ(running.get_future().wait_for(10s), std::future_status::ready);
    // Its destruction tells that the destructor has begun to discard pending work.
    std::promise<void> discarding;
    auto marker = std::shared_ptr<void>(nullptr, [&](void*) { discarding.set_value(); });
    queue->asyncAfter(1h, [marker] {});
    marker.reset();
    std::thread destroying([&] { queue.reset(); });
    ASSERT_EQ(discarding.get_future().wait_for(10s), std::future_status::ready);

    std::promise<bool> synced;
    std::thread syncing([&] { synced.set_value(raw->sync([] {})); });
    auto result = synced.get_future();
    const bool returned = result.wait_for(10s) == std::future_status::ready;
    release.set_value();
    destroying.join();
    returned ? syncing.join() : syncing.detach();
    ASSERT_TRUE(returned) << "sync waited on a queue that is shutting down";
    EXPECT_FALSE(result.get());
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

TEST(SerialQueueTest, WatchedDescriptorsCallBackOnTheQueueUntilTheWatchEnds) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const UniqueFd reading(ends[0]), writing(ends[1]);
    auto queue = std::make_unique<SerialQueue>("watching");
    std::promise<std::string> readOnQueue;
    std::unique_ptr<DescriptorWatching::Watch> watch;
    // Added from another thread while the queue sleeps in its poll: the watch must wake it.
    watch = queue->watchReadable(reading.get(), [&] {
        char byte = 0;
        ASSERT_EQ(::read(reading.get(), &byte, 1), 1);
        readOnQueue.set_value(queue->isCurrent() ? std::string(1, byte) : "elsewhere");
        watch.reset();  // a callback may end its own watch; unread bytes then call nothing
    });
    ASSERT_EQ(::write(writing.get(), "ab", 2), 2);
    auto result = readOnQueue.get_future();
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(result.get(), "a");
    // The byte left unread called nothing once the watch had ended.
    char left = 0;
    ASSERT_TRUE(queue->sync([&] { ASSERT_EQ(::read(reading.get(), &left, 1), 1); }));
    EXPECT_EQ(left, 'b');

    // A watch may outlive its queue.
    auto late = queue->watchReadable(reading.get(), [] { ADD_FAILURE(); });
    queue.reset();
    ASSERT_EQ(::write(writing.get(), "c", 1), 1);
    late.reset();
}

}  // namespace
}  // namespace kelvra
