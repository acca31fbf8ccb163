// SPDX-License-Identifier: MIT
#include <array>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "core/Error.h"

namespace kelvra {
namespace {

struct SampleError {
    std::string description() const { return "Something failed."; }
    std::string diagnosticDescription() const { return "SampleError.failed"; }
};

struct OtherError {
    std::string description() const { return "Other."; }
    std::string diagnosticDescription() const { return "OtherError.other"; }
};

TEST(ErrorTest, KeepsBothDescriptionsOfAnyComponentErrorOrVariant) {
    const Error direct = SampleError{};
    EXPECT_EQ(direct.description(), "Something failed.");
    EXPECT_EQ(direct.diagnosticDescription(), "SampleError.failed");

    const std::variant<SampleError, OtherError> variant = OtherError{};
    const Error fromVariant = variant;
    EXPECT_EQ(fromVariant, Error("Other.", "OtherError.other"));
}

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
