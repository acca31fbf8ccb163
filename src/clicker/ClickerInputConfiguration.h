// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "clicker/ClickerKeystroke.h"
#include "core/ClickerCommand.h"
#include "core/Uuid.h"

namespace kelvra {

/// The two fixed assignment rows, in the order of `allClickerMappingActions`.
enum class ClickerMappingAction { previous, next };

inline constexpr std::array<ClickerMappingAction, 2> allClickerMappingActions = {
    ClickerMappingAction::previous, ClickerMappingAction::next};

/// "Previous" or "Next".
std::string_view rawValue(ClickerMappingAction action);
std::optional<ClickerMappingAction> clickerMappingActionFromRawValue(std::string_view rawValue);
/// The row's recorder field: "previousKeyField" or "nextKeyField".
std::string recorderFieldIdentifier(ClickerMappingAction action);
/// "Previous slide" or "Next slide".
std::string accessibilityName(ClickerMappingAction action);

/// What a capture, a recorder field or a conflict refers to: one of the fixed rows, or the
/// custom row with that id.
using ClickerMappingTarget = std::variant<ClickerMappingAction, Uuid>;

/// How a capture was started: in the recorder field itself, or with the row's Listen button.
enum class ClickerKeyCaptureMode { direct, listening };

/// A capture in progress in the Clicker Distributor window.
struct ClickerKeyCapture {
    ClickerMappingTarget action;
    ClickerKeyCaptureMode mode = ClickerKeyCaptureMode::direct;

    friend bool operator==(const ClickerKeyCapture&, const ClickerKeyCapture&) = default;
};

/// One user-added row. Either field may be missing; such a row is kept and shown but never
/// matches input.
class CustomClickerAssignment {
public:
    /// A new row with a fresh id.
    CustomClickerAssignment() : id_(Uuid::generate()) {}
    explicit CustomClickerAssignment(Uuid id, std::optional<ClickerCustomAction> initialAction = {},
                                     std::optional<ClickerKeystroke> initialKeystroke = {});

    /// Fixed when the row is created.
    const Uuid& id() const { return id_; }

    std::optional<ClickerCustomAction> action;
    std::optional<ClickerKeystroke> keystroke;

    /// Compares the id, the action and the keystroke (by key code and modifiers).
    friend bool operator==(const CustomClickerAssignment& left,
                           const CustomClickerAssignment& right) {
        return left.id_ == right.id_ && left.action == right.action &&
               left.keystroke == right.keystroke;
    }

private:
    Uuid id_;
};

/// What an assigned keystroke means when it arrives: a slide direction, or a custom action.
using ClickerCapturedInput = std::variant<ClickerDirection, ClickerCustomAction>;

/// The whole assignment set of the Clicker Distributor.
struct ClickerInputConfiguration {
    ClickerKeystroke previous;
    ClickerKeystroke next;
    /// In the order the rows were added.
    std::vector<CustomClickerAssignment> customAssignments;

    /// Page Up for Previous, Page Down for Next, no custom rows.
    static const ClickerInputConfiguration& defaults();

    /// False when two custom rows share an id, when two assigned keystrokes are equal, or when
    /// one of them is Escape or a modifier key. Rows without a keystroke or action are fine.
    bool isValid() const;

    /// The meaning of a key-down with these flags (only shift, control, option and command
    /// count), or nothing. Previous wins over Next, Next over the custom rows, and the first
    /// custom row with that keystroke decides, even when it has no action.
    std::optional<ClickerCapturedInput> captured(uint16_t keyCode, uint64_t modifierFlags) const;

    friend bool operator==(const ClickerInputConfiguration&,
                           const ClickerInputConfiguration&) = default;
};

}  // namespace kelvra
