// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "clicker/ClickerKeystrokeInterpreter.h"

namespace kelvra {
namespace {

namespace Flags = ClickerModifierFlags;
namespace Interpreter = ClickerKeystrokeInterpreter;
using Kind = ClickerKeystrokeInterpretation::Kind;

TEST(ClickerKeystrokeInterpreterTest, InterpretsKeyDowns) {
    const std::optional<std::string_view> none;
    const struct {
        std::string name;
        uint16_t keyCode;
        uint64_t flags;
        std::optional<std::string_view> text;
        Kind kind;
        uint64_t recordedFlags;
        std::string baseName;
    } rows[] = {
        {"Escape", 53, 0, "\x1B", Kind::cancel, 0, ""},
        {"shift alone", 56, Flags::shift, none, Kind::ignored, 0, ""},
        {"Page Up with shift and capitals lock", 116, Flags::shift | Flags::capitalsLock,
         "\xEF\x9C\xAC", Kind::keystroke, Flags::shift, "Page Up"},
        {"command A names from the text without modifiers", 0,
         Flags::command | Flags::capitalsLock | 0x100, "a", Kind::keystroke, Flags::command, "A"},
        {"unnamed key with control text", 10, 0, "\x10", Kind::keystroke, 0, "Key Code 10"},
        {"unnamed key without text", 65535, 0, none, Kind::keystroke, 0, "Key Code 65535"},
        {"Space from the map, not its text", 49, 0, "x", Kind::keystroke, 0, "Space"},
        {"key code 52 is recordable", 52, 0, none, Kind::keystroke, 0, "Key Code 52"},
        {"German sharp s", 27, 0, "\u00DF", Kind::keystroke, 0, "SS"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto result = Interpreter::interpret(row.keyCode, row.flags, row.text);
        // Only a keystroke carries one; what else is interpreted compares as an empty one.
        const auto keystroke = result.keystroke.value_or(ClickerKeystroke{row.keyCode, 0, ""});
        EXPECT_EQ(std::tuple(result.kind, keystroke.keyCode, keystroke.modifierFlags,
                             keystroke.baseDisplayName),
                  std::tuple(row.kind, row.keyCode, row.recordedFlags, row.baseName));
    }
}

TEST(ClickerKeystrokeInterpreterTest, PrintableNames) {
    const std::optional<std::string> none;
    const struct {
        std::optional<std::string_view> text;
        std::optional<std::string> expected;
    } rows[] = {
        {std::nullopt, none}, {"", none},
        {" ", "Space"},       {"\t", "Tab"},
        {"\r", "Return"},     {"\n", "Return"},
        {"\r\n", none},       {"  ", "  "},
        {"a", "A"},           {"\u00DF", "SS"},
        {"\u00E9", "\u00C9"}, {"e\u0301", "E\u0301"},
        {"\u0131", "I"},      {"1", "1"},
        {"\u00A7", "\u00A7"}, {"\x7F", none},
        {"\xC2\x85", none},   {"a\u200D", none},
        {"\xFF", none},       {std::string_view("a\0", 2), none},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Interpreter::printableName(row.text), row.expected)
            << (row.text ? std::string(*row.text) : "(absent)");
    }
}

}  // namespace
}  // namespace kelvra
