// SPDX-License-Identifier: MIT
#include "clicker/ClickerInputConfigurationStore.h"

#include <algorithm>
#include <limits>

#include "clicker/ClickerKeystrokeInterpreter.h"

namespace kelvra {
namespace {

using nlohmann::json;

/// The member `name` when it is an integer in [minimum, maximum].
std::optional<int64_t> integerMember(const json& object, std::string_view name, int64_t minimum,
                                     int64_t maximum) {
    const auto found = object.find(name);
    if (found == object.end() || !found->is_number_integer()) {
        return std::nullopt;
    }
    int64_t value = 0;
    if (found->is_number_unsigned()) {
        const auto number = found->get<uint64_t>();
        if (number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            return std::nullopt;
        }
        value = static_cast<int64_t>(number);
    } else {
        value = found->get<int64_t>();
    }
    if (value < minimum || value > maximum) {
        return std::nullopt;
    }
    return value;
}

bool readsBack(const ClickerKeystroke& keystroke) {
    return (keystroke.modifierFlags & ~ClickerModifierFlags::recordable) == 0 &&
           !keystroke.baseDisplayName.empty();
}

}  // namespace

ClickerInputConfigurationStore::ClickerInputConfigurationStore(
    std::shared_ptr<SettingsStore> defaults)
    : defaults_(defaults ? std::move(defaults) : std::make_shared<InMemorySettingsStore>()) {}

std::optional<ClickerKeystroke> ClickerInputConfigurationStore::decodeKeystroke(const json& value) {
    if (!value.is_object()) {
        return std::nullopt;
    }
    const auto keyCode = integerMember(value, "keyCode", 0, std::numeric_limits<uint16_t>::max());
    if (!keyCode ||
        !ClickerKeystrokeInterpreter::isRecordableKeyCode(static_cast<uint16_t>(*keyCode))) {
        return std::nullopt;
    }
    // Stray bits make the keystroke unreadable rather than being masked away.
    const auto modifiers = integerMember(value, "modifiers", 0,
                                         static_cast<int64_t>(ClickerModifierFlags::recordable));
    if (!modifiers || (static_cast<uint64_t>(*modifiers) & ~ClickerModifierFlags::recordable)) {
        return std::nullopt;
    }
    const auto name = value.find("displayName");
    if (name == value.end() || !name->is_string() || name->get_ref<const std::string&>().empty()) {
        return std::nullopt;
    }
    return ClickerKeystroke{static_cast<uint16_t>(*keyCode), static_cast<uint64_t>(*modifiers),
                            name->get<std::string>()};
}

std::optional<CustomClickerAssignment> ClickerInputConfigurationStore::decodeAssignment(
    const json& value) {
    if (!value.is_object()) {
        return std::nullopt;
    }
    const auto idText = value.find("id");
    if (idText == value.end() || !idText->is_string()) {
        return std::nullopt;
    }
    const auto id = Uuid::parse(idText->get_ref<const std::string&>());
    if (!id) {
        return std::nullopt;
    }

    std::optional<ClickerCustomAction> action;
    // A non-string action reads as no action; an unknown string makes the row unreadable.
    if (const auto raw = value.find("action"); raw != value.end() && raw->is_string()) {
        action = clickerCustomActionFromRawValue(raw->get_ref<const std::string&>());
        if (!action) {
            return std::nullopt;
        }
    }

    std::optional<ClickerKeystroke> keystroke;
    if (const auto stored = value.find("keystroke"); stored != value.end()) {
        keystroke = decodeKeystroke(*stored);
        if (!keystroke) {
            return std::nullopt;
        }
    }
    return CustomClickerAssignment(*id, action, std::move(keystroke));
}

json::object_t ClickerInputConfigurationStore::encode(const ClickerKeystroke& keystroke) {
    return {
        {"keyCode", keystroke.keyCode},
        {"modifiers", static_cast<int64_t>(keystroke.modifierFlags)},
        {"displayName", keystroke.baseDisplayName},
    };
}

json::object_t ClickerInputConfigurationStore::encode(const CustomClickerAssignment& assignment) {
    json::object_t object{{"id", assignment.id().string()}};
    if (assignment.action) {
        object.emplace("action", std::string(rawValue(*assignment.action)));
    }
    if (assignment.keystroke) {
        object.emplace("keystroke", encode(*assignment.keystroke));
    }
    return object;
}

bool ClickerInputConfigurationStore::isStorable(const ClickerInputConfiguration& configuration) {
    if (!configuration.isValid() || !readsBack(configuration.previous) ||
        !readsBack(configuration.next)) {
        return false;
    }
    return std::all_of(configuration.customAssignments.begin(),
                       configuration.customAssignments.end(), [](const auto& assignment) {
                           return !assignment.keystroke || readsBack(*assignment.keystroke);
                       });
}

ClickerInputConfiguration ClickerInputConfigurationStore::configuration() const {
    const auto& fallback = ClickerInputConfiguration::defaults();
    const auto storedPrevious = defaults_->value(previousKeystrokeKey);
    const auto previous = storedPrevious ? decodeKeystroke(*storedPrevious) : std::nullopt;
    if (!previous) {
        return fallback;
    }
    const auto storedNext = defaults_->value(nextKeystrokeKey);
    const auto next = storedNext ? decodeKeystroke(*storedNext) : std::nullopt;
    if (!next) {
        return fallback;
    }

    ClickerInputConfiguration configuration{*previous, *next, {}};
    if (const auto rows = defaults_->array(customAssignmentsKey)) {
        std::vector<CustomClickerAssignment> decoded;
        decoded.reserve(rows->size());
        for (const auto& row : *rows) {
            auto assignment = decodeAssignment(row);
            if (!assignment) {
                decoded.clear();
                break;
            }
            decoded.push_back(std::move(*assignment));
        }
        configuration.customAssignments = std::move(decoded);
    }
    return configuration.isValid() ? configuration : fallback;
}

std::expected<void, SettingsStoreError> ClickerInputConfigurationStore::setConfiguration(
    const ClickerInputConfiguration& configuration) {
    if (!isStorable(configuration)) {
        return {};
    }
    json::array_t rows;
    rows.reserve(configuration.customAssignments.size());
    for (const auto& assignment : configuration.customAssignments) {
        rows.emplace_back(encode(assignment));
    }
    return defaults_->apply({
        {std::string(previousKeystrokeKey), json(encode(configuration.previous))},
        {std::string(nextKeystrokeKey), json(encode(configuration.next))},
        {std::string(customAssignmentsKey), json(std::move(rows))},
    });
}

}  // namespace kelvra
