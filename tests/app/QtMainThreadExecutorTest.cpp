// SPDX-License-Identifier: MIT
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <ranges>
#include <thread>
#include <vector>

#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "app/QtMainThreadExecutor.h"
#include "backend/BackendSupervisor.h"
#include "support/RecordingLog.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;

class QtMainThreadExecutorTest : public ::testing::Test {
protected:
    void record(int value) {
        EXPECT_TRUE(executor_.isMainThread());
        std::lock_guard lock(mutex_);
        ran_.push_back(value);
    }

    std::vector<int> ran() {
        std::lock_guard lock(mutex_);
        return ran_;
    }

    bool waitForCount(size_t count) {
        return QTest::qWaitFor([&] { return ran().size() >= count; }, 10000);
    }

    QtMainThreadExecutor executor_;
    std::mutex mutex_;
    std::vector<int> ran_;
};

TEST_F(QtMainThreadExecutorTest, RunsWorkFromOtherThreadsOnTheMainThreadInPostingOrder) {
    EXPECT_TRUE(executor_.isMainThread());
    std::thread poster([&] {
        EXPECT_FALSE(executor_.isMainThread());
        for (int value = 0; value < 100; ++value) {
            executor_.post([this, value] { record(value); });
        }
    });
    poster.join();
    ASSERT_TRUE(waitForCount(100));
    EXPECT_TRUE(std::ranges::equal(ran(), std::views::iota(0, 100)));
}

TEST_F(QtMainThreadExecutorTest, RunsDelayedWorkWhenDueInDeadlineOrderUnlessCancelled) {
    const auto start = std::chrono::steady_clock::now();
    executor_.postDelayed(120ms, [this] { record(3); });
    executor_.postDelayed(40ms, [this] { record(1); });
    executor_.postDelayed(40ms, [this] { record(2); });
    executor_.postDelayed(60ms, [this] { record(99); }).cancel();
    std::thread([&] { executor_.postDelayed(80ms, [this] { record(-1); }).cancel(); }).join();

    ASSERT_TRUE(waitForCount(3));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 120ms);
    EXPECT_EQ(ran(), (std::vector<int>{1, 2, 3}));
}

TEST_F(QtMainThreadExecutorTest, DropsWorkOnceTheLoopHasEnded) {
    executor_.post([this] { record(1); });
    executor_.postDelayed(1ms, [this] { record(2); });
    executor_.end();
    executor_.post([this] { record(3); });
    std::thread([&] { executor_.post([this] { record(4); }); }).join();
    executor_.postDelayed(1ms, [this] { record(5); });
    QTest::qWait(100);
    EXPECT_TRUE(ran().empty());
}

// A modal alert runs a loop of its own while the main loop waits; the backend's output must be
// read there too, or a backend printing meanwhile would stall on a full pipe, its events unseen.
TEST_F(QtMainThreadExecutorTest, AModalAlertKeepsTheBackendsOutputFlowingIntoTheLog) {
    const auto mainThread = std::make_shared<QtMainThreadExecutor>();
    const auto log = std::make_shared<testing::RecordingLog>();
    const auto fixtures = std::filesystem::path(KELVRA_TEST_SOURCE_DIR) / "tests/backend/fixtures";
    const auto supervisor =
        BackendSupervisor::create({KELVRA_TEST_NODE, fixtures / "ready.js", fixtures, false}, log,
                                  std::nullopt, mainThread, mainThread);
    std::optional<bool> ready;
    supervisor->start([&](auto outcome) { ready = outcome.has_value(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ready.has_value(); }, 20000));
    ASSERT_EQ(ready, true);

    const std::string echo =
        R"([server] got {"command":"clicker-key","direction":"left","consumed":true})";
    QMessageBox alert(QMessageBox::Warning, QStringLiteral("Kelvra Hub"), QStringLiteral("Open"));
    bool loggedWhileOpen = false;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &alert, [&] {
        loggedWhileOpen = log->contains(echo);
        if (loggedWhileOpen) {
            alert.done(QMessageBox::Ok);
        }
    });
    QTimer::singleShot(0, &alert, [&] {
        supervisor->clickerCommands()->write(ClickerDirection::left);
        check.start(5);
    });
    QTimer::singleShot(20000, &alert, [&] { alert.done(QMessageBox::Ok); });
    alert.exec();
    EXPECT_TRUE(loggedWhileOpen);

    bool stopped = false;
    supervisor->stop([&] { stopped = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return stopped; }, 20000));
}

}  // namespace
}  // namespace kelvra
