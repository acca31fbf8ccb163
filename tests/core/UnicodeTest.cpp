// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "core/Unicode.h"

namespace kelvra {
namespace {

TEST(UnicodeTest, TrimsUnicodeWhiteSpaceAndLineBreaksAtBothEnds) {
    const struct {
        std::string input;
        std::string expected;
    } rows[] = {
        {"", ""},
        {"\t\n\r\v\f", ""},
        {" /src/hub ", "/src/hub"},
        {"\u00A0\u2003x\u3000", "x"},  // no-break, em and ideographic spaces
        {"\u2028x\u2029\u0085", "x"},  // line and paragraph separators, next line
        {"\u200Bx", "\u200Bx"},        // zero width space is not white space
        {" \xFF ", "\xFF"},            // ill-formed bytes are kept, never trimmed
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Unicode::trimmed(row.input), row.expected) << "input: " << row.input;
    }
}

TEST(UnicodeTest, ValidatesAndRepairsUTF8) {
    EXPECT_TRUE(Unicode::isValidUTF8(""));
    EXPECT_TRUE(Unicode::isValidUTF8("grüße 😀"));
    // Stray, truncated, overlong, surrogate, beyond U+10FFFF, lone continuation, cut short.
    for (const std::string bad :
         {"\xFF", "\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\x80", "\xE2\x82"}) {
        EXPECT_FALSE(Unicode::isValidUTF8(bad)) << bad;
    }
    EXPECT_EQ(Unicode::repairedUTF8("a\xFF"
                                    "b"),
              "a\uFFFDb");
    EXPECT_EQ(Unicode::repairedUTF8("ok ü"), "ok ü");
}

TEST(UnicodeTest, CountsUserPerceivedCharactersNotBytesOrCodePoints) {
    const struct {
        std::string text;
        size_t expected;
    } rows[] = {
        {"", 0},
        {"e\u0301", 1},                                   // e + combining acute
        {"\U0001F469\u200D\U0001F4BB", 1},                // woman technologist (ZWJ sequence)
        {"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", 2},  // two flags
        {"\r\n", 1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Unicode::userPerceivedCharacterCount(row.text), row.expected) << row.text;
    }
}

}  // namespace
}  // namespace kelvra
