// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kelvra {

/// A 128-bit universally unique identifier.
class Uuid {
public:
    /// The nil UUID, all zero.
    Uuid() = default;

    /// A new random (version 4) UUID.
    static Uuid generate();

    /// Parses exactly the 36-character hyphenated hexadecimal form, in upper or lower case
    /// (or mixed); anything else (braces, missing hyphens, surrounding space) is no UUID.
    static std::optional<Uuid> parse(std::string_view text);

    /// The 36-character hyphenated form in upper case, as other versions of the application
    /// write it.
    std::string string() const;

    const std::array<uint8_t, 16>& bytes() const { return bytes_; }

    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<uint8_t, 16> bytes_{};
};

}  // namespace kelvra

template <>
struct std::hash<kelvra::Uuid> {
    size_t operator()(const kelvra::Uuid& uuid) const noexcept {
        size_t combined = 0;
        for (const auto byte : uuid.bytes()) {
            combined = combined * 131 + byte;
        }
        return combined;
    }
};
