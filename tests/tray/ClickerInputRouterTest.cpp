// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <thread>

#include "support/ManualMainThreadExecutor.h"
#include "tray/ClickerInputRouter.h"
#include "tray/StatusBarFakes.h"

namespace kelvra {
namespace {

// Keys come from the delivery queue: to the backend, or during an input test Previous and Next
// to the window (on the main thread) and custom actions nowhere; without a backend, nowhere.
TEST(ClickerInputRouterTest, RoutesKeysFromTheDeliveryQueue) {
    auto mainThread = std::make_shared<ManualMainThreadExecutor>();
    std::vector<ClickerDirection> detected;
    ClickerInputRouter router(mainThread,
                              [&](ClickerDirection direction) { detected.push_back(direction); });
    auto backend = std::make_shared<testing::FakeSupervisor>(std::nullopt);
    const struct {
        bool testing;
        bool hasBackend;
        ClickerCapturedInput input;
        bool sent, detected;
    } rows[] = {
        {false, true, ClickerDirection::right, true, false},
        {false, true, ClickerCustomAction::blackout, true, false},
        {true, true, ClickerDirection::left, false, true},
        {true, true, ClickerCustomAction::blackout, false, false},
        {false, false, ClickerDirection::right, false, false},
        {true, false, ClickerDirection::left, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.testing << row.hasBackend);
        backend->sent.clear();
        detected.clear();
        router.setInputTestRequired(row.testing);
        router.setBackend(row.hasBackend ? backend : nullptr);
        EXPECT_EQ(router.backend() != nullptr, row.hasBackend);
        std::thread([&] { router.route(row.input); }).join();
        EXPECT_TRUE(detected.empty()) << "the window is reached on the main thread only";
        mainThread->runPending();
        EXPECT_EQ(backend->sent.size(), row.sent ? 1u : 0u);
        EXPECT_EQ(detected.size(), row.detected ? 1u : 0u);
    }
}

}  // namespace
}  // namespace kelvra
