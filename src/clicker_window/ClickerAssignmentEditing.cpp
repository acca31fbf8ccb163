// SPDX-License-Identifier: MIT
#include "clicker_window/ClickerAssignmentEditing.h"

#include <algorithm>
#include <vector>

namespace kelvra::ClickerAssignmentEditing {

CustomClickerAssignment* row(ClickerInputConfiguration& configuration, const Uuid& id) {
    auto& rows = configuration.customAssignments;
    const auto found = std::ranges::find(rows, id, &CustomClickerAssignment::id);
    return found == rows.end() ? nullptr : &*found;
}

const CustomClickerAssignment* row(const ClickerInputConfiguration& configuration, const Uuid& id) {
    return row(const_cast<ClickerInputConfiguration&>(configuration), id);
}

std::optional<ClickerKeystroke> keystroke(const ClickerInputConfiguration& configuration,
                                          const ClickerMappingTarget& target) {
    if (const auto* action = std::get_if<ClickerMappingAction>(&target)) {
        return *action == ClickerMappingAction::previous ? configuration.previous
                                                         : configuration.next;
    }
    const CustomClickerAssignment* custom = row(configuration, std::get<Uuid>(target));
    return custom ? custom->keystroke : std::nullopt;
}

std::string description(const ClickerInputConfiguration& configuration,
                        const ClickerMappingTarget& target) {
    if (const auto* action = std::get_if<ClickerMappingAction>(&target)) {
        return accessibilityName(*action);
    }
    const CustomClickerAssignment* custom = row(configuration, std::get<Uuid>(target));
    return custom && custom->action ? std::string(displayName(*custom->action))
                                    : "the custom assignment";
}

std::optional<ClickerMappingTarget> conflictingTarget(
    const ClickerInputConfiguration& configuration, const ClickerMappingTarget& target,
    const ClickerKeystroke& recorded) {
    std::vector<ClickerMappingTarget> targets = {ClickerMappingAction::previous,
                                                 ClickerMappingAction::next};
    for (const CustomClickerAssignment& custom : configuration.customAssignments) {
        targets.emplace_back(custom.id());
    }
    const auto found = std::ranges::find_if(targets, [&](const ClickerMappingTarget& other) {
        return other != target && keystroke(configuration, other) == recorded;
    });
    return found == targets.end() ? std::nullopt : std::optional(*found);
}

bool setKeystroke(ClickerInputConfiguration& configuration, const ClickerMappingTarget& target,
                  const ClickerKeystroke& recorded) {
    if (const auto* action = std::get_if<ClickerMappingAction>(&target)) {
        (*action == ClickerMappingAction::previous ? configuration.previous : configuration.next) =
            recorded;
        return true;
    }
    CustomClickerAssignment* custom = row(configuration, std::get<Uuid>(target));
    if (!custom) {
        return false;
    }
    custom->keystroke = recorded;
    return true;
}

bool resetToDefaults(ClickerInputConfiguration& configuration) {
    const ClickerInputConfiguration& defaults = ClickerInputConfiguration::defaults();
    configuration.previous = defaults.previous;
    configuration.next = defaults.next;
    bool unassigned = false;
    for (CustomClickerAssignment& custom : configuration.customAssignments) {
        if (custom.keystroke == defaults.previous || custom.keystroke == defaults.next) {
            custom.keystroke.reset();
            unassigned = true;
        }
    }
    return unassigned;
}

}  // namespace kelvra::ClickerAssignmentEditing
