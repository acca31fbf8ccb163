// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "backend/BackendOutputLog.h"
#include "support/RecordingLog.h"

namespace kelvra {
namespace {

using namespace std::chrono_literals;

TEST(BackendOutputLogTest, LetsBurstsThroughAndCountsWhatAFloodHoldsBack) {
    auto recorded = std::make_shared<testing::RecordingLog>();
    auto now = std::chrono::steady_clock::time_point{};
    BackendOutputLog log(recorded, {.linesPerSecond = 10, .burst = 3, .reportInterval = 5s},
                         [&] { return now; });
    for (const char* line : {"0", "1", "2", "3", "4"}) {
        log.write("server", line);  // two over the burst
    }
    now += 1s;
    log.write("server", "5");  // refilled, and too early to report
    now += 4s;
    log.write("server", "6");  // the count comes before the line
    log.write("server:err", "7");
    log.write("server:err", "8");
    log.write("server:err", "9");  // the allowance is spent again
    log.flush();
    log.flush();  // nothing more held back

    EXPECT_EQ(recorded->lines(),
              (std::vector<std::string>{
                  "[server] 0", "[server] 1", "[server] 2", "[server] 5",
                  "[shell] 2 lines from the server were not logged because it printed too much.",
                  "[server] 6", "[server:err] 7", "[server:err] 8",
                  "[shell] 1 line from the server was not logged because it printed too much."}));
}

}  // namespace
}  // namespace kelvra
