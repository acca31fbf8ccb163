// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/Uuid.h"

namespace kelvra {
namespace {

TEST(UuidTest, ParsesOnlyTheHyphenatedFormInEitherCase) {
    const auto upper = Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    ASSERT_TRUE(upper.has_value());
    EXPECT_EQ(upper->string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f"), upper);
    EXPECT_EQ(Uuid::parse("e621E1F8-c36c-495A-93fc-0C247a3E6e5F"), upper);
    for (const std::string& bad : std::vector<std::string>{
             "", "E621E1F8C36C495A93FC0C247A3E6E5F", "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}",
             " E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5F ",
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5G", "E621E1F8-C36C-495A-93FC0-C247A3E6E5F",
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
             std::string("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"
                         "\0junk",
                         41),
             std::string("E621E1F8-C36C-495A-93FC-0C247A3E6E5\0", 36),
             "+621E1F8-C36C-495A-93FC-0C247A3E6E5F"}) {
        EXPECT_FALSE(Uuid::parse(bad).has_value()) << bad;
    }
    const auto generated = Uuid::generate();
    EXPECT_EQ(Uuid::parse(generated.string()), generated);
    EXPECT_NE(generated, Uuid::generate());
}

}  // namespace
}  // namespace kelvra
