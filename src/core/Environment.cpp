// SPDX-License-Identifier: MIT
#include "core/Environment.h"

#include <unistd.h>

namespace kelvra {

Environment currentEnvironment() {
    Environment environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto separator = text.find('=');
        if (separator == std::string::npos) {
            continue;
        }
        // The first definition wins, as it does for getenv.
        environment.emplace(text.substr(0, separator), text.substr(separator + 1));
    }
    return environment;
}

std::optional<std::string> environmentValue(const Environment& environment,
                                            const std::string& name) {
    const auto found = environment.find(name);
    if (found == environment.end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace kelvra
