// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kelvra
