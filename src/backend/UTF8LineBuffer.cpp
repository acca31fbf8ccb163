// SPDX-License-Identifier: MIT
#include "backend/UTF8LineBuffer.h"

#include <utility>

#include "core/Unicode.h"

namespace kelvra {
namespace {

std::string_view withoutCarriageReturn(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

}  // namespace

std::expected<std::vector<std::string>, DesktopProtocolError> UTF8LineBuffer::fail(
    DesktopProtocolError error) {
    data_.clear();
    data_.shrink_to_fit();
    scanned_ = 0;
    failure_ = error;
    return std::unexpected(error);
}

std::expected<std::vector<std::string>, DesktopProtocolError> UTF8LineBuffer::append(
    std::string_view chunk) {
    if (failure_) {
        return std::unexpected(*failure_);
    }
    data_.append(chunk);
    std::vector<std::string> lines;
    size_t lineStart = 0;
    // Searching resumes after the bytes already scanned, so a long line arriving in small
    // chunks costs linear time.
    size_t searchFrom = scanned_;
    while (true) {
        const size_t lineFeed = data_.find('\n', searchFrom);
        if (lineFeed == std::string::npos) {
            break;
        }
        if (lineFeed - lineStart > kMaximumLineBytes) {
            return fail(DesktopProtocolError::Kind::lineTooLong);
        }
        const auto line =
            withoutCarriageReturn(std::string_view(data_).substr(lineStart, lineFeed - lineStart));
        if (!Unicode::isValidUTF8(line)) {
            return fail(DesktopProtocolError::Kind::invalidUTF8);
        }
        lines.emplace_back(line);
        lineStart = lineFeed + 1;
        searchFrom = lineStart;
    }
    if (data_.size() - lineStart > kMaximumLineBytes) {
        return fail(DesktopProtocolError::Kind::lineTooLong);
    }
    data_.erase(0, lineStart);
    scanned_ = data_.size();
    return lines;
}

std::expected<std::vector<std::string>, DesktopProtocolError> UTF8LineBuffer::finish() {
    std::string rest;
    rest.swap(data_);
    scanned_ = 0;
    if (const auto failure = std::exchange(failure_, std::nullopt)) {
        return std::unexpected(*failure);
    }
    if (rest.empty()) {
        return std::vector<std::string>{};
    }
    const auto line = withoutCarriageReturn(rest);
    if (!Unicode::isValidUTF8(line)) {
        return std::unexpected(DesktopProtocolError::Kind::invalidUTF8);
    }
    return std::vector<std::string>{std::string(line)};
}

}  // namespace kelvra
