// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

/// Reading and editing desktop entry files (XDG Desktop Entry specification) line by line, so
/// that everything we do not change stays exactly as it was.
namespace kelvra::DesktopEntry {

/// `executable` as an Exec value that starts it without arguments: quoted as one argument when
/// it holds a reserved character, with "%" doubled and then escaped as a string value. Absent
/// for a relative path, invalid UTF-8 or a control character, which no entry can hold.
std::optional<std::string> execValue(const std::filesystem::path& executable);

/// Whether the "Desktop Entry" group switches the entry off for autostart: "Hidden=true" or
/// "X-GNOME-Autostart-enabled=false".
bool isDisabled(std::string_view contents);

/// `existing` (empty for a new file) as an enabled autostart entry of the application that runs
/// `execValue`: in the "Desktop Entry" group, Exec is set, Hidden and X-GNOME-Autostart-enabled
/// switched on where present, and Type and Name added when missing. Comments, other keys, other
/// groups and their order are kept; only lines outside any group that are not comments, which
/// no reader accepts, are dropped. Without a "Desktop Entry" group, a new one goes first.
std::string enabledEntry(std::string_view existing, const std::string& execValue);

}  // namespace kelvra::DesktopEntry
