// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "clicker/ClickerInputConfiguration.h"
#include "core/SettingsStore.h"

namespace kelvra {

/// Keeps the Clicker Distributor's configuration in the per-user settings and reads it back
/// defensively: whatever is stored, a read answers a valid configuration. Nothing is cached;
/// every read decodes the stored values afresh.
///
/// Stored form (shared with other versions of the application, so it must not change):
/// - "clickerDistributor.previousKeystroke", "clickerDistributor.nextKeystroke": a keystroke
///   object {"keyCode": integer 0…65535, "modifiers": integer, only bits of 0x1E0000,
///   "displayName": non-empty string, the base name without modifier glyphs}.
/// - "clickerDistributor.customAssignments": an array of assignment objects in row order,
///   {"id": the UUID as 36 hexadecimal digits and hyphens (written in upper case, read in either),
///   "action": the action's raw value, only when the row has one,
///   "keystroke": a keystroke object, only when the row has one}.
/// These are JSON objects, arrays, integers and strings exactly where the user-defaults domain
/// of the original platform held dictionaries, arrays, numbers and strings; no binary data is
/// involved.
class ClickerInputConfigurationStore {
public:
    static constexpr std::string_view previousKeystrokeKey = "clickerDistributor.previousKeystroke";
    static constexpr std::string_view nextKeystrokeKey = "clickerDistributor.nextKeystroke";
    static constexpr std::string_view customAssignmentsKey = "clickerDistributor.customAssignments";
    /// Kept by the keyboard access provider, listed here with the other keys of the subsystem.
    static constexpr std::string_view accessibilityRequestRecordedKey =
        "clickerDistributor.accessibilityRequestRecorded";

    /// Over `defaults`; without one, over a fresh, empty in-memory store of its own, so that
    /// nothing is shared with the application's settings.
    explicit ClickerInputConfigurationStore(std::shared_ptr<SettingsStore> defaults = nullptr);

    const std::shared_ptr<SettingsStore>& defaults() const { return defaults_; }

    /// The stored configuration; the defaults when a fixed keystroke is missing or unreadable
    /// or when the whole is not valid. An unreadable custom row drops every custom row.
    ClickerInputConfiguration configuration() const;

    /// Stores a configuration that `isStorable` accepts, with one update of the settings;
    /// anything else is ignored and leaves the stored values as they were. Only a failure to
    /// save is reported; the settings then answer the new values until the process ends.
    std::expected<void, SettingsStoreError> setConfiguration(
        const ClickerInputConfiguration& configuration);

    /// Valid, and every keystroke would read back: only recordable modifier bits and a
    /// non-empty name, as the interpreter always makes them.
    static bool isStorable(const ClickerInputConfiguration& configuration);

    /// The decoding rules of the stored form, one value at a time.
    static std::optional<ClickerKeystroke> decodeKeystroke(const nlohmann::json& value);
    /// Absent when the row is unreadable.
    static std::optional<CustomClickerAssignment> decodeAssignment(const nlohmann::json& value);
    static nlohmann::json::object_t encode(const ClickerKeystroke& keystroke);
    static nlohmann::json::object_t encode(const CustomClickerAssignment& assignment);

private:
    std::shared_ptr<SettingsStore> defaults_;
};

}  // namespace kelvra
