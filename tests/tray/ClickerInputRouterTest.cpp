// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <thread>

#include "clicker/FakeKeyboardTap.h"
#include "support/AllocationCount.h"
#include "support/ManualMainThreadExecutor.h"
#include "tray/ClickerInputRouter.h"
#include "tray/StatusBarFakes.h"

namespace kelvra {
namespace {

using testing::FakeKeyboardTap;

const std::string kRight = R"({"command":"clicker-key","direction":"right","consumed":true})";
const std::string kLeft = R"({"command":"clicker-key","direction":"left","consumed":true})";

// Keys come from the tap thread: to the backend, or during an input test Previous and Next
// to the window (on the main thread) and custom actions nowhere; without a backend, nowhere.
TEST(ClickerInputRouterTest, RoutesKeysFromTheTapThread) {
    auto mainThread = std::make_shared<ManualMainThreadExecutor>();
    std::vector<ClickerDirection> detected;
    ClickerInputRouter router(mainThread,
                              [&](ClickerDirection direction) { detected.push_back(direction); });
    auto backend = std::make_shared<testing::FakeSupervisor>(std::nullopt);
    const struct {
        bool testing;
        bool hasBackend;
        ClickerCapturedInput input;
        std::string sent;
        bool detected;
    } rows[] = {
        {false, true, ClickerDirection::right, kRight, false},
        {false, true, ClickerCustomAction::blackout,
         R"({"command":"clicker-action","action":"blackout","consumed":true})", false},
        {true, true, ClickerDirection::left, "", true},
        {true, true, ClickerCustomAction::blackout, "", false},
        {false, false, ClickerDirection::right, "", false},
        {true, false, ClickerDirection::left, "", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.testing << row.hasBackend);
        const size_t sentBefore = backend->sent().size();
        detected.clear();
        router.setInputTestRequired(row.testing);
        router.setBackend(row.hasBackend ? backend : nullptr);
        EXPECT_EQ(router.backend() != nullptr, row.hasBackend);
        std::thread([&] { router.route(row.input); }).join();
        EXPECT_TRUE(detected.empty()) << "the window is reached on the main thread only";
        mainThread->runPending();
        const auto& sent = backend->sent();
        EXPECT_EQ(sent.size() - sentBefore, row.sent.empty() ? 0u : 1u);
        if (!row.sent.empty() && sent.size() > sentBefore) {
            EXPECT_EQ(sent.back(), row.sent);
        }
        EXPECT_EQ(detected.size(), row.detected ? 1u : 0u);
    }
}

// The tap thread writes a backend's key itself while it decides the key, without allocating
// and without waking another thread: the line is in the pipe by the time the tap has its
// decision. A backend that replaces another while the listener runs takes the keys from then on.
TEST(ClickerInputRouterTest, TheTapThreadWritesEachKeyToTheCurrentBackendWithoutAllocating) {
    auto mainThread = std::make_shared<ManualMainThreadExecutor>();
    ClickerInputRouter router(mainThread, [](ClickerDirection) {});
    auto first = std::make_shared<testing::FakeSupervisor>(std::nullopt);
    auto second = std::make_shared<testing::FakeSupervisor>(std::nullopt);
    auto control = std::make_shared<FakeKeyboardTap::Control>();
    control->allocationsOnThisThread = testing::allocationsOnThisThread;
    std::vector<ClickerInputListenerState> states;
    const auto monitor = ClickerInputMonitor::create(
        std::make_shared<testing::RecordingLog>(), mainThread,
        [control] {
            return openKeyboardTap(
                {[control] { return std::make_unique<FakeKeyboardTap>(control); }, {}},
                std::nullopt);
        },
        [&router](ClickerCapturedInput input) { router.route(input); },
        {.onState = [&](ClickerInputListenerState state) { states.push_back(state); },
         .onConflicts = {}},
        ClickerInputConfiguration::defaults());
    router.setBackend(first);
    monitor->start(nullptr);
    ASSERT_TRUE(mainThread->runUntil(
        [&] { return !states.empty() && states.back() == ClickerInputListenerState::listening; },
        std::chrono::seconds(10)));

    const auto press = [&](uint16_t keyCode) {
        const size_t decided = control->decisions.size();
        control->inject({1, keyCode, KeyTransition::down, 0});
        control->inject({1, keyCode, KeyTransition::up, 0});
        return control->waitUntil([&] { return control->decisions.size() == decided + 2; });
    };
    ASSERT_TRUE(press(ClickerKeyCode::pageDown));
    EXPECT_EQ(first->sent(), std::vector<std::string>{kRight});
    router.setBackend(second);
    ASSERT_TRUE(press(ClickerKeyCode::pageUp));
    EXPECT_EQ(second->sent(), std::vector<std::string>{kLeft});
    EXPECT_EQ(first->sent().size(), 1u);
    EXPECT_EQ(control->allocatedInDecide, 0u);

    monitor->stop();
    monitor->join();
}

}  // namespace
}  // namespace kelvra
