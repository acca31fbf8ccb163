// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

#include "clicker/ClickerInputConfiguration.h"

namespace kelvra {

/// The edits the Clicker Distributor window makes to a configuration, and the names it shows
/// for the assignments. Stateless; the configuration is the caller's.
namespace ClickerAssignmentEditing {

/// The custom row with that id, or null.
CustomClickerAssignment* row(ClickerInputConfiguration& configuration, const Uuid& id);
const CustomClickerAssignment* row(const ClickerInputConfiguration& configuration, const Uuid& id);

/// The target's keystroke; absent for a custom row without one or without the row.
std::optional<ClickerKeystroke> keystroke(const ClickerInputConfiguration& configuration,
                                          const ClickerMappingTarget& target);

/// "Previous slide", "Next slide", a custom row's action name, or "the custom assignment" for
/// a row without an action or a row that is gone.
std::string description(const ClickerInputConfiguration& configuration,
                        const ClickerMappingTarget& target);

/// The first other target, in the order Previous, Next, then the custom rows, that already
/// uses `keystroke`; recording it again for `target` itself is no conflict.
std::optional<ClickerMappingTarget> conflictingTarget(
    const ClickerInputConfiguration& configuration, const ClickerMappingTarget& target,
    const ClickerKeystroke& keystroke);

/// False, changing nothing, when `target` is a custom row that does not exist.
bool setKeystroke(ClickerInputConfiguration& configuration, const ClickerMappingTarget& target,
                  const ClickerKeystroke& keystroke);

/// Page Up for Previous and Page Down for Next; custom rows on either key lose their keystroke
/// but keep their action. Answers whether a row lost its keystroke.
bool resetToDefaults(ClickerInputConfiguration& configuration);

}  // namespace ClickerAssignmentEditing
}  // namespace kelvra
