// SPDX-License-Identifier: MIT
#include <array>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "core/Error.h"

namespace kelvra {
namespace {

TEST(ErrorTest, QuotedEscapesWhatWouldHideInALogLine) {
    EXPECT_EQ(quoted(""), "\"\"");
    EXPECT_EQ(quoted(" a\"b\\c "), "\" a\\\"b\\\\c \"");
    EXPECT_EQ(quoted("line\nbreak\t\x01"), "\"line\\nbreak\\t\\u0001\"");
    EXPECT_EQ(quoted("grüße"), "\"grüße\"");
}

TEST(ErrorTest, ErrorTextIsTheCallersOwnOnEveryThread) {
    // Unknown codes are formatted into a buffer, which strerror shares between threads.
    std::vector<std::thread> threads;
    std::array<bool, 4> matched{true, true, true, true};
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([thread, &matched] {
            const int code = 5000 + thread;
            for (int round = 0; round < 2000; ++round) {
                if (errorText(code).find(std::to_string(code)) == std::string::npos) {
                    matched[static_cast<size_t>(thread)] = false;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(matched, (std::array<bool, 4>{true, true, true, true}));
    EXPECT_EQ(errorText(0), "unknown error");
}

}  // namespace
}  // namespace kelvra
