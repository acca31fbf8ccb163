// SPDX-License-Identifier: MIT
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

/// Reading JSON from untrusted places: strict (no comments, no trailing text, well-formed UTF-8)
/// and shallow, since the library copies, compares and serialises values recursively and a
/// deeply nested document would exhaust the stack.
namespace kelvra::StrictJson {

inline constexpr int kMaximumDepth = 64;

/// The object in `bytes`; absent when `bytes` holds anything else or nests deeper than
/// `kMaximumDepth` levels.
std::optional<nlohmann::json::object_t> parseObject(std::string_view bytes);

}  // namespace kelvra::StrictJson
