// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "backend/UTF8LineBuffer.h"

namespace kelvra {
namespace {

using Lines = std::vector<std::string>;

Lines lines(const std::expected<Lines, DesktopProtocolError>& result) {
    EXPECT_TRUE(result.has_value());
    return result.value_or(Lines{"<invalidUTF8>"});
}

TEST(UTF8LineBufferTest, FramesLinesAcrossChunks) {
    const struct {
        std::vector<std::string> chunks;
        Lines expected;
        Lines finished;
    } rows[] = {
        {{"a\nb", "c\n"}, {"a", "bc"}, {}},
        {{"x\r\n"}, {"x"}, {}},
        {{"x\r\r\n"}, {"x\r"}, {}},
        {{"x\r", "\n"}, {"x"}, {}},  // CR LF split between chunks
        {{"\n\n"}, {"", ""}, {}},
        {{"\xF0\x9F", "\x98", "\x80 done\n"}, {"\U0001F600 done"}, {}},  // split character
        {{"tail"}, {}, {"tail"}},
        {{"one\r\ntwo\r"}, {"one"}, {"two"}},
        {{"", "", ""}, {}, {}},
    };
    for (const auto& row : rows) {
        UTF8LineBuffer buffer;
        Lines received;
        for (const auto& chunk : row.chunks) {
            const auto next = lines(buffer.append(chunk));
            received.insert(received.end(), next.begin(), next.end());
        }
        EXPECT_EQ(received, row.expected) << row.chunks.front();
        EXPECT_EQ(lines(buffer.finish()), row.finished) << row.chunks.front();
        EXPECT_EQ(lines(buffer.finish()), Lines{}) << "finish empties the buffer";
    }
}

TEST(UTF8LineBufferTest, AnIllFormedLineBlocksTheStreamUntilFinish) {
    UTF8LineBuffer buffer;
    // The good line before the bad one in the same chunk is lost with it.
    const auto failed = buffer.append("ok\n\xFF\nz\n");
    ASSERT_FALSE(failed.has_value());
    EXPECT_EQ(failed.error(), DesktopProtocolError::Kind::invalidUTF8);
    EXPECT_FALSE(buffer.append("q\n").has_value());
    EXPECT_FALSE(buffer.append("").has_value());

    EXPECT_FALSE(buffer.finish().has_value());
    EXPECT_EQ(lines(buffer.append("fresh\n")), Lines{"fresh"});

    // A tail cut short may yet be completed, until the stream ends.
    UTF8LineBuffer unterminated;
    EXPECT_TRUE(unterminated.append("a\xE2\x82").has_value());
    EXPECT_FALSE(unterminated.finish().has_value());
}

TEST(UTF8LineBufferTest, ALineUpToTheLimitIsAssembledWholeAndALongerOneFailsAtOnce) {
    constexpr size_t kLimit = UTF8LineBuffer::kMaximumLineBytes;
    for (const bool tooLong : {false, true}) {
        UTF8LineBuffer buffer;
        // Tiny chunks, so the search for the line feed must not start over each time.
        const std::string piece(8, 'x');
        for (size_t size = 0; size < kLimit; size += piece.size()) {
            ASSERT_TRUE(lines(buffer.append(piece)).empty());
        }
        if (!tooLong) {
            const auto done = lines(buffer.append("\n"));
            ASSERT_EQ(done.size(), 1u);
            EXPECT_EQ(done.front().size(), kLimit);
            continue;
        }
        // One byte more fails before any line feed comes, and the stream stays failed.
        const auto failed = buffer.append("x");
        ASSERT_FALSE(failed.has_value());
        EXPECT_EQ(failed.error(), DesktopProtocolError::Kind::lineTooLong);
        EXPECT_FALSE(buffer.append("\nnext\n").has_value());
        EXPECT_FALSE(buffer.finish().has_value());
        EXPECT_EQ(lines(buffer.append("fresh\n")), Lines{"fresh"});
    }
    // A complete line over the limit in one chunk fails too, with the lines before it.
    UTF8LineBuffer buffer;
    const auto failed = buffer.append("ok\n" + std::string(kLimit + 1, 'y') + "\n");
    ASSERT_FALSE(failed.has_value());
    EXPECT_EQ(failed.error(), DesktopProtocolError::Kind::lineTooLong);
}

}  // namespace
}  // namespace kelvra
