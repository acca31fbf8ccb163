// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "backend/DesktopProtocol.h"

namespace kelvra {

/// Frames a byte stream into lines ended by a line feed, a CR LF counting as one line end.
/// Each line must be well-formed UTF-8. Not thread-safe: the owner serialises calls.
class UTF8LineBuffer {
public:
    /// The lines that `chunk` completed, in order. An ill-formed line fails the whole call; it
    /// then stays at the front of the buffer, so every later `append` fails too until `finish`.
    std::expected<std::vector<std::string>, DesktopProtocolError> append(std::string_view chunk);

    /// At the end of the stream: the unterminated last line, if any. Always leaves the buffer
    /// empty, also when it fails.
    std::expected<std::vector<std::string>, DesktopProtocolError> finish();

private:
    std::string data_;
    /// Bytes of `data_` already known to hold no line feed.
    size_t scanned_ = 0;
};

}  // namespace kelvra
