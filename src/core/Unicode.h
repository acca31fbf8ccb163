// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// Unicode-aware text helpers over UTF-8.
namespace kelvra::Unicode {

/// `text` without the white space and line breaks (Unicode White_Space) at both ends.
/// Invalid UTF-8 is never white space, so it is kept.
std::string trimmed(std::string_view text);

/// Whether `text` is well-formed UTF-8.
bool isValidUTF8(std::string_view text);

/// The number of user-perceived characters (extended grapheme clusters) in well-formed UTF-8.
size_t userPerceivedCharacterCount(std::string_view text);

/// `text` with each ill-formed UTF-8 sequence replaced by U+FFFD.
std::string repairedUTF8(std::string_view text);

}  // namespace kelvra::Unicode
