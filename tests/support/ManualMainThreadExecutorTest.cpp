// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "support/ManualMainThreadExecutor.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;

TEST(ManualMainThreadExecutorTest, RunsNothingUntilAskedThenEverythingInOrder) {
    ManualMainThreadExecutor executor;
    std::vector<int> ran;
    executor.post([&] {
        ran.push_back(1);
        executor.post([&] { ran.push_back(3); });
    });
    executor.post([&] { ran.push_back(2); });
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(executor.runPending(), 3);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(executor.runPending(), 0);
}

TEST(ManualMainThreadExecutorTest, RunsWorkPostedFromOtherThreadsOnItsOwnThread) {
    ManualMainThreadExecutor executor;
    int count = 0;
    bool allOnMainThread = true;
    std::thread poster([&] {
        EXPECT_FALSE(executor.isMainThread());
        for (int index = 0; index < 50; ++index) {
            executor.post([&] {
                allOnMainThread = allOnMainThread && executor.isMainThread();
                ++count;
            });
        }
    });
    EXPECT_TRUE(executor.runUntil([&] { return count == 50; }, 10s));
    poster.join();
    EXPECT_TRUE(allOnMainThread);
}

TEST(ManualMainThreadExecutorTest, DelayedWorkFollowsTheVirtualClockInDeadlineOrder) {
    ManualMainThreadExecutor executor;
    std::vector<int> ran;
    executor.postDelayed(5s, [&] { ran.push_back(5); });
    const auto cancelled = executor.postDelayed(2s, [&] { ran.push_back(-1); });
    executor.postDelayed(1s, [&] {
        ran.push_back(1);
        // Timed from the moment it was posted, on the virtual clock.
        executor.postDelayed(1s, [&] { ran.push_back(2); });
    });
    executor.postDelayed(5s, [&] { ran.push_back(6); });
    cancelled.cancel();

    EXPECT_EQ(executor.runPending(), 0);
    EXPECT_EQ(executor.advance(4s), 2);
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_EQ(executor.advance(1s), 2);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 5, 6}));
    EXPECT_EQ(executor.elapsed(), 5s);
}

}  // namespace
}  // namespace kelvra
