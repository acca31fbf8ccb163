// SPDX-License-Identifier: MIT
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "clicker/ClickerInputMonitorLifecycle.h"
#include "clicker/FakeKeyboardTap.h"
#include "support/ManualMainThreadExecutor.h"

namespace kelvra {
namespace {

using State = ClickerInputListenerState;
using ::testing::ElementsAre;

class ClickerInputMonitorLifecycleTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualMainThreadExecutor> mainThread =
        std::make_shared<ManualMainThreadExecutor>();
    std::vector<std::shared_ptr<testing::FakeClickerMonitor>> made;
    std::vector<State> states;
    std::vector<std::vector<ClickerKeystroke>> conflicts;
    std::optional<ClickerInputMonitorLifecycle> lifecycle;

    ClickerInputMonitorLifecycleTest() { renewLifecycle(); }

    void renewLifecycle() {
        made.clear();
        lifecycle.emplace(
            [this](ClickerInputMonitorReports reports) {
                made.push_back(std::make_shared<testing::FakeClickerMonitor>(std::move(reports)));
                return made.back();
            },
            mainThread,
            ClickerInputMonitorReports{[this](State state) { states.push_back(state); },
                                       [this](std::vector<ClickerKeystroke> keystrokes) {
                                           conflicts.push_back(std::move(keystrokes));
                                       }});
    }

    /// Sets the four inputs from bits (1 distribution, 2 test, 4 recording, 8 permission) and
    /// reconciles.
    void reconcile(int flags) {
        lifecycle->setDistributionRequired(flags & 1);
        lifecycle->setTestRequired(flags & 2);
        lifecycle->setRecordingRequired(flags & 4);
        lifecycle->setPermissionGranted(flags & 8);
        lifecycle->reconcile();
    }
};

TEST_F(ClickerInputMonitorLifecycleTest, AListenerRunsExactlyWhileGrantedAndWanted) {
    const auto wanted = [](int flags) { return (flags & 8) && (flags & 3); };
    for (int from = 0; from < 16; ++from) {
        for (int to = 0; to < 16; ++to) {
            SCOPED_TRACE("from " + std::to_string(from) + " to " + std::to_string(to));
            reconcile(from);
            const auto first = lifecycle->monitor();
            ASSERT_EQ(first != nullptr, wanted(from));
            reconcile(to);
            // Only a withdrawn distribution demand keeps its listener a while; a test ending or
            // access going stop it at once.
            const bool lingers = first && (from & 1) && !(to & 1) && (to & 8);
            ASSERT_EQ(lifecycle->monitor() != nullptr, wanted(to) || lingers);
            mainThread->advance(ClickerInputMonitorLifecycle::kDistributionSettleTime);
            ASSERT_EQ(lifecycle->monitor() != nullptr, wanted(to));
            if (first && wanted(to)) {
                EXPECT_EQ(lifecycle->monitor(), first);  // kept, never restarted
                EXPECT_THAT(made.back()->calls, ElementsAre("start"));
            }
            if (first && !wanted(to)) {
                // Never waited for on the main thread: its successor or the destructor does.
                EXPECT_THAT(made.back()->calls, ElementsAre("start", "stop"));
            }
            if (lifecycle->monitor()) {
                EXPECT_EQ(made.back()->recording, (to & 4) != 0);
            }
            reconcile(0);
        }
    }
}

// A peer flipping its demand every 5 ms for 15 s takes the keyboards once; its last word holds
// once it has settled, and a demand arriving while nothing listens starts a listener at once.
TEST_F(ClickerInputMonitorLifecycleTest, AFlippingDemandTakesTheKeyboardsOnce) {
    for (int change = 0; change < 3000; ++change) {
        reconcile(change % 2 == 0 ? 1 | 8 : 8);
        mainThread->advance(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(made.size(), 1u);
    EXPECT_THAT(made[0]->calls, ElementsAre("start"));
    mainThread->advance(ClickerInputMonitorLifecycle::kDistributionSettleTime);
    EXPECT_EQ(lifecycle->monitor(), nullptr);
    EXPECT_THAT(made[0]->calls, ElementsAre("start", "stop"));
    EXPECT_EQ(states.back(), State::stopped);

    reconcile(1 | 8);
    ASSERT_EQ(made.size(), 2u);
    EXPECT_EQ(made[1]->predecessor, made[0]) << "the new listener's thread waits for the old one";
    reconcile(8);
    mainThread->advance(std::chrono::seconds(1));
    reconcile(1 | 8);
    mainThread->advance(ClickerInputMonitorLifecycle::kDistributionSettleTime);
    EXPECT_EQ(lifecycle->monitor(), made[1]);
    EXPECT_THAT(made[1]->calls, ElementsAre("start"));
}

TEST_F(ClickerInputMonitorLifecycleTest, NewListenersTakeTheConfigurationAndRecordingFlag) {
    auto configuration = ClickerInputConfiguration::defaults();
    configuration.next = {96, 0, "F5"};
    lifecycle->updateConfiguration(configuration);
    reconcile(1 | 4 | 8);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->configuration, configuration);
    lifecycle->updateConfiguration(ClickerInputConfiguration::defaults());
    lifecycle->setRecordingRequired(false);
    EXPECT_EQ(made[0]->configuration, ClickerInputConfiguration::defaults());
    EXPECT_FALSE(made[0]->recording);
    EXPECT_THAT(made[0]->calls, ElementsAre("start"));
}

TEST_F(ClickerInputMonitorLifecycleTest, OnlyTheCurrentListenerReports) {
    reconcile(1 | 8);
    const auto replaced = made.back();
    replaced->reports.onState(State::listening);
    reconcile(0);
    mainThread->runPending();
    EXPECT_THAT(states, ElementsAre(State::listening, State::stopped));

    // The stopped of a listener dropped and replaced at once gives way to its successor.
    reconcile(1 | 8);
    reconcile(0);
    reconcile(1 | 8);
    const auto current = made.back();
    current->reports.onState(State::listening);
    replaced->reports.onState(State::failed);  // late, from the replaced listener
    replaced->reports.onConflicts({{121, 0, "Page Down"}});
    current->reports.onConflicts({});
    mainThread->runPending();
    EXPECT_THAT(states, ElementsAre(State::listening, State::stopped, State::listening));
    ASSERT_EQ(conflicts.size(), 1u);
    EXPECT_TRUE(conflicts[0].empty());
}

TEST_F(ClickerInputMonitorLifecycleTest, DestructionStopsAndJoinsTheListener) {
    // Running, and stopped with its thread perhaps still ending.
    for (const int last : {2 | 8, 8}) {
        SCOPED_TRACE(last);
        renewLifecycle();
        reconcile(2 | 8);
        reconcile(last);
        const auto monitor = made.back();
        lifecycle.reset();
        EXPECT_THAT(monitor->calls, ElementsAre("start", "stop", "join"));
        states.clear();
        monitor->reports.onState(State::failed);  // the lifecycle is gone: dropped quietly
        mainThread->runPending();
        EXPECT_TRUE(states.empty());
    }
}

}  // namespace
}  // namespace kelvra
