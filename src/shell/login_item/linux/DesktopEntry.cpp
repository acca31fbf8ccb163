// SPDX-License-Identifier: MIT
#include "shell/login_item/linux/DesktopEntry.h"

#include <algorithm>
#include <vector>

#include "core/Unicode.h"

namespace kelvra::DesktopEntry {
namespace {

constexpr std::string_view kMainGroup = "[Desktop Entry]";
/// Characters that make the Desktop Entry specification require quoting an argument.
constexpr std::string_view kReservedCharacters = " \t\n\"'\\><~|&;$*?#()`";
/// Characters escaped with a backslash inside a quoted argument.
constexpr std::string_view kQuotedEscapes = "\"`$\\";

std::string_view trimmedSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> splitLines(std::string_view contents) {
    std::vector<std::string> lines;
    while (!contents.empty()) {
        const auto end = contents.find('\n');
        std::string_view line = contents.substr(0, end);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        lines.emplace_back(line);
        if (end == std::string_view::npos) {
            break;
        }
        contents.remove_prefix(end + 1);
    }
    return lines;
}

bool isGroupHeader(std::string_view line) {
    line = trimmedSpaces(line);
    return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

bool isMainGroupHeader(std::string_view line) {
    return trimmedSpaces(line) == kMainGroup;
}

bool isCommentOrBlank(std::string_view line) {
    line = trimmedSpaces(line);
    return line.empty() || line.front() == '#';
}

/// The key of a "key=value" line, without surrounding spaces; empty for other lines.
std::string_view keyOf(std::string_view line) {
    if (isCommentOrBlank(line) || isGroupHeader(line)) {
        return {};
    }
    const auto equals = line.find('=');
    return equals == std::string_view::npos ? std::string_view()
                                            : trimmedSpaces(line.substr(0, equals));
}

std::string_view valueOf(std::string_view line) {
    const auto equals = line.find('=');
    return equals == std::string_view::npos ? std::string_view()
                                            : trimmedSpaces(line.substr(equals + 1));
}

/// The lines of the first main group, after its header: [begin, end) indexes into `lines`.
struct GroupRange {
    size_t header;
    size_t end;
};

std::optional<GroupRange> mainGroup(const std::vector<std::string>& lines) {
    const auto header = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return isMainGroupHeader(line);
    });
    if (header == lines.end()) {
        return std::nullopt;
    }
    const auto end = std::find_if(std::next(header), lines.end(),
                                  [](const std::string& line) { return isGroupHeader(line); });
    return GroupRange{static_cast<size_t>(header - lines.begin()),
                      static_cast<size_t>(end - lines.begin())};
}

std::string joined(const std::vector<std::string>& lines) {
    std::string contents;
    for (const auto& line : lines) {
        contents += line;
        contents += '\n';
    }
    return contents;
}

}  // namespace

std::optional<std::string> execValue(const std::filesystem::path& executable) {
    const std::string path = executable.string();
    if (!executable.is_absolute() || !Unicode::isValidUTF8(path) ||
        std::any_of(path.begin(), path.end(),
                    [](unsigned char c) { return c < 0x20 || c == 0x7f; })) {
        return std::nullopt;
    }
    const bool quote = path.find_first_of(kReservedCharacters) != std::string::npos;
    std::string argument = quote ? "\"" : "";
    for (const char c : path) {
        if (quote && kQuotedEscapes.find(c) != std::string_view::npos) {
            argument += '\\';
        }
        argument += c;
        if (c == '%') {
            argument += '%';
        }
    }
    if (quote) {
        argument += '"';
    }
    // The string-value escapes apply first when the entry is read, so backslashes double again.
    std::string value;
    for (const char c : argument) {
        value += c;
        if (c == '\\') {
            value += '\\';
        }
    }
    return value;
}

bool isDisabled(std::string_view contents) {
    const auto lines = splitLines(contents);
    const auto group = mainGroup(lines);
    if (!group) {
        return false;
    }
    bool hidden = false;
    bool autostartEnabled = true;
    for (size_t index = group->header + 1; index < group->end; ++index) {
        const auto key = keyOf(lines[index]);
        if (key == "Hidden") {
            hidden = valueOf(lines[index]) == "true";
        } else if (key == "X-GNOME-Autostart-enabled") {
            autostartEnabled = valueOf(lines[index]) != "false";
        }
    }
    return hidden || !autostartEnabled;
}

std::string enabledEntry(std::string_view existing, const std::string& execValue) {
    auto lines = splitLines(existing);
    // Before the first group only comments can stand.
    const auto firstGroup = std::find_if(
        lines.begin(), lines.end(), [](const std::string& line) { return isGroupHeader(line); });
    lines.erase(std::remove_if(lines.begin(), firstGroup,
                               [](const std::string& line) { return !isCommentOrBlank(line); }),
                firstGroup);

    auto group = mainGroup(lines);
    if (!group) {
        const std::vector<std::string> fresh = {
            std::string(kMainGroup),
            "Type=Application",
            "Name=Kelvra Hub",
            "Exec=" + execValue,
            "Icon=com.morvane.KelvraHub",
            "Terminal=false",
            "X-GNOME-Autostart-enabled=true",
        };
        const auto before = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
            return isGroupHeader(line);
        });
        const bool separate = before != lines.end();
        const auto inserted = lines.insert(before, fresh.begin(), fresh.end());
        if (separate) {
            lines.insert(inserted + static_cast<std::ptrdiff_t>(fresh.size()), "");
        }
        return joined(lines);
    }

    bool hasType = false;
    bool hasName = false;
    bool hasExec = false;
    std::vector<std::string> edited(lines.begin(), lines.begin() + group->header + 1);
    for (size_t index = group->header + 1; index < group->end; ++index) {
        const std::string& line = lines[index];
        const auto key = keyOf(line);
        if (key == "Exec") {
            if (!hasExec) {
                edited.push_back("Exec=" + execValue);
                hasExec = true;
            }
            continue;  // a repeated key makes the file invalid
        }
        if (key == "Hidden") {
            edited.push_back("Hidden=false");
        } else if (key == "X-GNOME-Autostart-enabled") {
            edited.push_back("X-GNOME-Autostart-enabled=true");
        } else {
            hasType = hasType || key == "Type";
            hasName = hasName || key == "Name";
            edited.push_back(line);
        }
    }
    // New keys go before the blank lines and comments that separate the next group.
    size_t insertAt = edited.size();
    while (insertAt > group->header + 1 && isCommentOrBlank(edited[insertAt - 1])) {
        --insertAt;
    }
    std::vector<std::string> missing;
    if (!hasType) {
        missing.push_back("Type=Application");
    }
    if (!hasName) {
        missing.push_back("Name=Kelvra Hub");
    }
    if (!hasExec) {
        missing.push_back("Exec=" + execValue);
    }
    edited.insert(edited.begin() + static_cast<std::ptrdiff_t>(insertAt), missing.begin(),
                  missing.end());
    edited.insert(edited.end(), lines.begin() + static_cast<std::ptrdiff_t>(group->end),
                  lines.end());
    return joined(edited);
}

}  // namespace kelvra::DesktopEntry
