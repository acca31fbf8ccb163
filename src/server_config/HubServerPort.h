// SPDX-License-Identifier: MIT
#pragma once

#include <compare>
#include <cstdint>
#include <optional>

namespace kelvra {

/// A TCP port the server listens on: 1 through 65535, the one range that a stored, a typed and a
/// launched port all keep to. Ports below `lowestChoosable` need privileges to bind: one that is
/// stored is kept, but none is chosen anew.
class HubServerPort {
public:
    static constexpr uint16_t lowestChoosable = 1024;

    /// `number` as a port; absent outside 1 through 65535.
    static constexpr std::optional<HubServerPort> from(int64_t number) {
        if (number < 1 || number > 65535) {
            return std::nullopt;
        }
        return HubServerPort(static_cast<uint16_t>(number));
    }

    /// The default port, 31603.
    constexpr HubServerPort() = default;
    /// A port written in the code; one outside the range does not compile.
    consteval HubServerPort(int number) : number_(inRange(number)) {}

    constexpr uint16_t number() const { return number_; }
    /// Whether a person may choose it anew: `lowestChoosable` through 65535.
    constexpr bool isChoosable() const { return number_ >= lowestChoosable; }

    friend constexpr auto operator<=>(const HubServerPort&, const HubServerPort&) = default;

private:
    constexpr explicit HubServerPort(uint16_t number) : number_(number) {}

    static consteval uint16_t inRange(int number) {
        if (number < 1 || number > 65535) {
            throw "a port lies in 1 through 65535";
        }
        return static_cast<uint16_t>(number);
    }

    uint16_t number_ = 31603;
};

}  // namespace kelvra
