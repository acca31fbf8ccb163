// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

#include "clicker/ClickerInputConfiguration.h"

namespace kelvra::testing {

/// The display names a configuration carries, which its equality leaves out: the fixed
/// keystrokes', then each row's (empty for a row without a keystroke).
inline std::vector<std::string> displayNames(const ClickerInputConfiguration& configuration) {
    std::vector<std::string> names{configuration.previous.baseDisplayName,
                                   configuration.next.baseDisplayName};
    for (const auto& row : configuration.customAssignments) {
        names.push_back(row.keystroke ? row.keystroke->baseDisplayName : "");
    }
    return names;
}

}  // namespace kelvra::testing
