// SPDX-License-Identifier: MIT
#pragma once

#include <map>
#include <optional>
#include <string>

namespace kelvra {

/// A process environment as a name-to-value map.
using Environment = std::map<std::string, std::string>;

/// The environment of this process.
Environment currentEnvironment();

/// The value of `name`, absent when unset.
std::optional<std::string> environmentValue(const Environment& environment,
                                            const std::string& name);

}  // namespace kelvra
