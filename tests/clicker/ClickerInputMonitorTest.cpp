// SPDX-License-Identifier: MIT
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>

#include "clicker/FakeKeyboardTap.h"

namespace kelvra {
namespace {

using State = ClickerInputListenerState;
using kelvra::testing::FakeKeyboardTap;
using ::testing::ElementsAre;

constexpr auto kLimit = std::chrono::seconds(10);

class ClickerInputMonitorTest : public ::testing::Test, protected testing::RecordedMonitor {
protected:
    std::shared_ptr<ClickerInputMonitor> makeMonitor() {
        return make(
            {[control = control] { return std::make_unique<FakeKeyboardTap>(control); }, {}});
    }

    /// A started monitor once it reports listening.
    std::shared_ptr<ClickerInputMonitor> listening() {
        auto monitor = makeMonitor();
        monitor->start(nullptr);
        EXPECT_TRUE(runUntilState(State::listening));
        return monitor;
    }

    // Joins without letting a lost stop hang the test run.
    static bool joins(ClickerInputMonitor& monitor) {
        auto joined = std::async(std::launch::async, [&] { monitor.join(); });
        return joined.wait_for(kLimit) == std::future_status::ready;
    }

    static bool stopsAndJoins(ClickerInputMonitor& monitor) {
        monitor.stop();
        return joins(monitor);
    }

    std::shared_ptr<FakeKeyboardTap::Control> control =
        std::make_shared<FakeKeyboardTap::Control>();
};

TEST_F(ClickerInputMonitorTest, DeliversAnAssignedKeyOnceWhileDecidingItAndConsumesItsPress) {
    const auto monitor = makeMonitor();
    monitor->start(nullptr);
    monitor->start(nullptr);
    ASSERT_TRUE(runUntilState(State::listening));
    control->inject({1, ClickerKeyCode::pageDown, KeyTransition::down, 0});
    control->inject({1, 0, KeyTransition::down, 0});
    ASSERT_TRUE(control->waitUntil([&] { return control->decisions.size() == 2; }));
    EXPECT_THAT(control->decisions,
                ElementsAre(KeyboardTapDecision::consume, KeyboardTapDecision::pass));
    // Delivered by the tap thread before it had its decision.
    EXPECT_THAT(inputs, ElementsAre(ClickerCapturedInput(ClickerDirection::right)));
    EXPECT_NE(inputThreads[0], std::this_thread::get_id());
    monitor->stop();
    monitor->stop();
    ASSERT_TRUE(joins(*monitor));
    mainThread->runPending();
    // One thread and one open for two starts; the second stop adds nothing to the stop's report
    // and the thread's own at its end.
    EXPECT_EQ(control->opened, 1);
    EXPECT_THAT(states,
                ElementsAre(State::starting, State::listening, State::stopped, State::stopped));
}

// A listener replacing a stopped one that is slow to let the keyboards go takes them only after
// it; neither the stop nor the start waits for that, and a stop landing just before the tap
// runs is not lost.
TEST_F(ClickerInputMonitorTest, ASuccessorTakesTheKeyboardsOnlyOnceItsPredecessorEnded) {
    control->holdAtRunEntry = true;
    auto predecessor = makeMonitor();
    predecessor->start(nullptr);
    ASSERT_TRUE(control->waitUntil([&] { return control->atRunEntry; }));
    predecessor->stop();
    const auto successor = makeMonitor();
    successor->start(std::move(predecessor));
    control->update([](auto& c) { c.holdAtRunEntry = false; });
    ASSERT_TRUE(runUntilState(State::listening));
    ASSERT_TRUE(stopsAndJoins(*successor));
    EXPECT_EQ(control->opened, 2);
    EXPECT_FALSE(control->overlapped);
    EXPECT_EQ(control->running, 0);
}

TEST_F(ClickerInputMonitorTest, AStopRightAfterStartEndsTheThreadAndAGoneMonitorReportsNothing) {
    for (int round = 0; round < 20; ++round) {
        const auto monitor = makeMonitor();
        monitor->start(nullptr);
        ASSERT_TRUE(stopsAndJoins(*monitor));
    }
    mainThread->runPending();
    EXPECT_TRUE(states.empty());
}

TEST_F(ClickerInputMonitorTest, ATapThatCannotOpenFailsWithTheLogLine) {
    control->openError = "no keyboard could be opened";
    const auto monitor = makeMonitor();
    monitor->start(nullptr);
    ASSERT_TRUE(runUntilState(State::failed));
    EXPECT_TRUE(log->waitFor(
        "[shell] Clicker Distributor could not create its active keyboard event tap. Keyboard "
        "access may be unavailable."));
    ASSERT_TRUE(joins(*monitor));
    EXPECT_THAT(states, ElementsAre(State::starting, State::failed));
}

TEST_F(ClickerInputMonitorTest, AMonitorWithoutAStopDescriptorFailsAndStartsNoThread) {
    const auto monitor = makeMonitor();
    // UndefinedBehaviorSanitizer checks the type behind a virtual call the first time it meets
    // it, through a pipe of its own: let it meet the executor and the log while it still can.
    static_cast<MainThreadExecutor&>(*mainThread).post([] {});
    static_cast<LogSink&>(*log).write("test", "descriptors run out now");
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    const rlimit none{0, saved.rlim_max};
    ::setrlimit(RLIMIT_NOFILE, &none);  // out of descriptors
    monitor->start(nullptr);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_TRUE(runUntilState(State::failed));
    ASSERT_TRUE(joins(*monitor));  // nothing could have stopped a thread
    EXPECT_EQ(control->opened, 0);
}

TEST_F(ClickerInputMonitorTest, ALostSourceEndsTheRunWithFailed) {
    const auto monitor = listening();
    control->update([](auto& c) { c.loseSource = true; });
    ASSERT_TRUE(runUntilState(State::failed));
    ASSERT_TRUE(stopsAndJoins(*monitor));  // nothing left to stop
    mainThread->runPending();
    EXPECT_THAT(states, ElementsAre(State::starting, State::listening, State::failed));
}

TEST_F(ClickerInputMonitorTest, ConfigurationAndRecordingReachTheRunningTap) {
    const auto monitor = listening();
    auto configuration = ClickerInputConfiguration::defaults();
    configuration.customAssignments.emplace_back(Uuid::generate(), ClickerCustomAction::freeze,
                                                 ClickerKeystroke{96, 0, "F5"});
    configuration.customAssignments.emplace_back(Uuid::generate(), std::nullopt,
                                                 ClickerKeystroke{97, 0, "F6"});
    monitor->setConfiguration(configuration);
    monitor->setRecordingRequired(true);
    ASSERT_TRUE(control->waitUntil([&] {
        return !control->configurations.empty() && control->configurations.back()->recording;
    }));
    const auto& last = *control->configurations.back();
    EXPECT_THAT(last.assignedKeystrokes,
                ElementsAre(ClickerKeystroke{116, 0, ""}, ClickerKeystroke{121, 0, ""},
                            ClickerKeystroke{96, 0, ""}));
    // While recording, even an assigned key passes; after it, the new assignment is matched.
    control->inject({1, 96, KeyTransition::down, 0});
    control->inject({1, 96, KeyTransition::up, 0});
    ASSERT_TRUE(control->waitUntil([&] { return control->decisions.size() == 2; }));
    monitor->setRecordingRequired(false);
    control->inject({1, 96, KeyTransition::down, 0});
    ASSERT_TRUE(control->waitUntil([&] { return control->decisions.size() == 3; }));
    EXPECT_THAT(control->decisions,
                ElementsAre(KeyboardTapDecision::pass, KeyboardTapDecision::pass,
                            KeyboardTapDecision::consume));
    ASSERT_TRUE(waitForInputs(1));
    EXPECT_EQ(inputs[0], ClickerCapturedInput(ClickerCustomAction::freeze));
    ASSERT_TRUE(stopsAndJoins(*monitor));
}

TEST_F(ClickerInputMonitorTest, ConflictsReachTheOwnerEachTimeAndTheLogOnce) {
    const auto monitor = listening();
    const std::vector<ClickerKeystroke> pageDown = {{121, 0, "Page Down"}};
    control->update([&](auto& c) { c.conflictsToReport = pageDown; });
    ASSERT_TRUE(mainThread->runUntil([&] { return conflicts.size() == 1; }, kLimit));
    control->update([&](auto& c) { c.conflictsToReport = pageDown; });
    ASSERT_TRUE(mainThread->runUntil([&] { return conflicts.size() == 2; }, kLimit));
    EXPECT_EQ(conflicts[1], pageDown);
    EXPECT_EQ(log->count("[shell] Clicker Distributor could not reserve Page Down: another program "
                         "has already grabbed it."),
              1u);
    ASSERT_TRUE(stopsAndJoins(*monitor));
}

}  // namespace
}  // namespace kelvra
