// SPDX-License-Identifier: MIT
#include <csignal>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include <QTest>

#include "app/TerminationSignals.h"

namespace kelvra {
namespace {

TEST(TerminationSignalsTest, EachSignalArrivesOnTheMainThreadInsteadOfEndingTheProcess) {
    const auto mainThread = std::this_thread::get_id();
    std::vector<int> received;
    {
        TerminationSignals termination([&](int signalNumber) {
            EXPECT_EQ(std::this_thread::get_id(), mainThread);
            received.push_back(signalNumber);
        });
        // Delivered to the process from another thread, as `kill` from outside would be.
        std::thread([] {
            ::kill(::getpid(), SIGTERM);
            ::kill(::getpid(), SIGHUP);
        }).join();
        ::raise(SIGINT);
        ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() >= 3; }, 10000));
    }
    std::sort(received.begin(), received.end());
    EXPECT_EQ(received, (std::vector<int>{SIGHUP, SIGINT, SIGTERM}));

    struct sigaction action {};
    ::sigaction(SIGTERM, nullptr, &action);
    EXPECT_EQ(action.sa_handler, SIG_DFL);
}

}  // namespace
}  // namespace kelvra
