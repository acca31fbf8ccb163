// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backend/DesktopProtocol.h"

namespace kelvra {

/// Frames a byte stream into lines ended by a line feed, a CR LF counting as one line end.
/// Each line must be well-formed UTF-8 and at most `kMaximumLineBytes` long, so a stream never
/// holds more than one line and one chunk. Not thread-safe: the owner serialises calls.
class UTF8LineBuffer {
public:
    /// The backend's own limit for the lines it reads, counted before the line feed.
    static constexpr size_t kMaximumLineBytes = 64 * 1024;

    /// The lines that `chunk` completed, in order. A bad line fails the whole call, and every
    /// later `append` fails the same way, keeping nothing, until `finish`.
    std::expected<std::vector<std::string>, DesktopProtocolError> append(std::string_view chunk);

    /// At the end of the stream: the unterminated last line, if any. Always leaves the buffer
    /// empty and usable again, also when it fails.
    std::expected<std::vector<std::string>, DesktopProtocolError> finish();

private:
    std::expected<std::vector<std::string>, DesktopProtocolError> fail(DesktopProtocolError error);

    std::string data_;
    /// Bytes of `data_` already known to hold no line feed.
    size_t scanned_ = 0;
    std::optional<DesktopProtocolError> failure_;
};

}  // namespace kelvra
